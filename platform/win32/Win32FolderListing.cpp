// Folder listing and drives with the Windows file API.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {
namespace {

struct Stream {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool firstPending = true;
};

// A found name in narrow text: the long name, else the short 8.3 one, else "?" of no type,
// which no listing offers. A name is taken only when narrow text holds it exactly: a
// replaced or best-fitted character would name some other entry.
DirectoryEntry entryOf(const WIN32_FIND_DATAW& data) {
  DirectoryEntry entry;
  if (!win32::toNarrowExactly(data.cFileName, entry.name) || entry.name.empty()) {
    if (data.cAlternateFileName[0] == L'\0' ||
        !win32::toNarrowExactly(data.cAlternateFileName, entry.name) || entry.name.empty()) {
      entry.name = "?";
      entry.type = EntryType::None;
      return entry;
    }
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
    entry.type = EntryType::Device;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    entry.type = EntryType::Folder;
  } else {
    entry.type = EntryType::RegularFile;
  }
  return entry;
}

}  // namespace

bool DirectoryStream::open(const std::string& narrowPath) {
  close();
  // An empty path, or one over 260 characters, cannot be listed.
  if (narrowPath.empty() || narrowPath.size() > 260) {
    return false;
  }
  const std::wstring wide = win32::toWide(narrowPath);
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return false;
  }
  std::wstring full(needed, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  full.resize(written);
  std::wstring pattern = full;
  if (pattern.empty() ||
      (pattern.back() != L'/' && pattern.back() != L':' && pattern.back() != L'\\')) {
    pattern += L'\\';
  }
  pattern += L'*';

  auto* stream = new Stream;
  stream->find = FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &stream->data,
                                  FindExSearchNameMatch, nullptr, 0);
  if (stream->find == INVALID_HANDLE_VALUE) {
    delete stream;
    return false;
  }
  handle_ = stream;
  // The pattern without its '*', with '/' separators: the folder's absolute path. Narrow text
  // given as a relative path ("./") can lead to a folder whose absolute name it cannot hold;
  // that folder is listed with an empty full path rather than a wrong one.
  pattern.pop_back();
  if (!win32::toNarrowExactly(pattern, fullPath_)) {
    fullPath_.clear();
  }
  std::replace(fullPath_.begin(), fullPath_.end(), '\\', '/');
  return true;
}

bool DirectoryStream::next(DirectoryEntry& entry) {
  auto* stream = static_cast<Stream*>(handle_);
  if (stream == nullptr) {
    return false;
  }
  if (stream->firstPending) {
    stream->firstPending = false;
  } else if (!FindNextFileW(stream->find, &stream->data)) {
    close();
    return false;
  }
  entry = entryOf(stream->data);
  return true;
}

void DirectoryStream::close() {
  if (auto* stream = static_cast<Stream*>(handle_)) {
    if (stream->find != INVALID_HANDLE_VALUE) {
      FindClose(stream->find);
    }
    delete stream;
    handle_ = nullptr;
  }
}

bool readEntryAttributes(const std::string& narrowPath, EntryAttributes& out) {
  // Through the wide call, so that the narrow code page decides the name, not the system's.
  const DWORD attributes = GetFileAttributesW(win32::toWide(narrowPath).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  out.hidden = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  out.system = (attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
  return true;
}

bool listDrives(std::vector<DriveEntry>& out) {
  const DWORD size = GetLogicalDriveStringsA(0, nullptr);
  std::vector<char> buffer(size + 1, '\0');
  if (size == 0 || GetLogicalDriveStringsA(size, buffer.data()) == 0) {
    return false;
  }
  out.clear();
  for (const char* root = buffer.data(); *root != '\0'; root += std::strlen(root) + 1) {
    const std::string letter(1, root[0]);
    switch (GetDriveTypeA(root)) {
      case DRIVE_REMOVABLE:
        out.push_back({"Removable Disk: " + letter, letter + ":/"});
        break;
      case DRIVE_FIXED:
        out.push_back({letter, letter + ":/"});
        break;
      default:  // network, optical, RAM disks and the unknown are not offered
        break;
    }
  }
  return true;
}

}  // namespace vestrel::platform
