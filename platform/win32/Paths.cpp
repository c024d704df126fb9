// Windows path rules: drive letters and '\' separators.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {

std::string adjustInstallFolder(std::string folder) {
  // The second character becomes the drive's ':' whatever it was: "D/Games/" gives
  // "D:Games/", and "C:/Games/" stays as it is. An empty text has no drive to mark.
  if (folder.empty()) {
    return folder;
  }
  folder.insert(1, ":");
  if (folder.size() > 2) {
    folder.erase(2, 1);
  }
  return folder;
}

std::string nativeFolder(std::string folder) {
  std::replace(folder.begin(), folder.end(), '/', '\\');
  return folder;
}

bool isAbsoluteFolder(const std::string& narrow) {
  const auto letter = narrow.empty() ? 0 : static_cast<unsigned char>(narrow[0]) | 0x20;
  return narrow.size() >= 3 && letter >= 'a' && letter <= 'z' && narrow[1] == ':' &&
         (narrow[2] == '/' || narrow[2] == '\\');
}

char nativeSeparator() {
  return '\\';
}

std::FILE* openFile(const std::string& narrowPath, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(win32::toWide(narrowPath).c_str(), wideMode.c_str());
}

bool seekFile(std::FILE* file, std::uint64_t offset) {
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

namespace {

// A file operation's failure as an error number: a file another program holds for the moment
// (a sharing or lock violation) is EBUSY, refused access EACCES.
int errorNumber(DWORD code) {
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL         ? ENOSPC
         : code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ? EBUSY
         : code == ERROR_ACCESS_DENIED                                     ? EACCES
                                                                           : EIO;
}

}  // namespace

bool replaceFile(const std::string& narrowFrom, const std::string& narrowTo, int& error) {
  if (MoveFileExW(win32::toWide(narrowFrom).c_str(), win32::toWide(narrowTo).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  error = errorNumber(GetLastError());
  return false;
}

bool removeFile(const std::string& narrow, int& error) {
  if (DeleteFileW(win32::toWide(narrow).c_str())) {
    return true;
  }
  const DWORD code = GetLastError();
  error = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ENOENT : errorNumber(code);
  return false;
}

bool heldByAnotherProgram(int error) {
  return error == EBUSY || error == EACCES;
}

std::filesystem::path toFsPath(const std::string& narrow) {
  return std::filesystem::path(win32::toWide(narrow));
}

bool fromFsPath(const std::filesystem::path& path, std::string& narrow) {
  return win32::toNarrowExactly(path.native(), narrow);
}

std::string driveRootOf(const std::string& absolutePath) {
  // The first three bytes name the drive, as in "C:/".
  return absolutePath.substr(0, std::min<std::size_t>(3, absolutePath.size()));
}

}  // namespace vestrel::platform
