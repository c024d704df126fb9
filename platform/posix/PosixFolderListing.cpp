// Folder listing and the drive list on POSIX.
//
// What stands in for the Windows attributes and drives here:
// - a name starting with '.' (other than "." and "..") is hidden, as file managers treat it;
//   nothing is a system entry;
// - an entry whose attributes (stat) cannot be read is left out, like one whose attribute
//   query fails; a symbolic link to a folder counts as a folder;
// - the drive list holds the file-system root and the mounted removable media a player
//   would install to (mount points under /media and /run/media), labelled
//   "Removable Disk: " with their name;
// - the root has no ".." entry, as a Windows drive root has none.
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/Platform.h"

namespace vestrel::platform {
namespace {

struct Stream {
  DIR* dir = nullptr;
  std::string path;  // as given, ending in '/'
  bool atRoot = false;
};

EntryType typeOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return EntryType::None;
  }
  if (S_ISDIR(info.st_mode)) {
    return EntryType::Folder;
  }
  if (S_ISREG(info.st_mode)) {
    return EntryType::RegularFile;
  }
  return EntryType::Device;
}

// Mount points from /proc/self/mounts, with the kernel's octal escapes undone.
std::vector<std::string> mountPoints() {
  std::vector<std::string> points;
  std::ifstream mounts("/proc/self/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, point;
    fields >> device >> point;
    std::string decoded;
    for (std::size_t i = 0; i < point.size(); ++i) {
      if (point[i] == '\\' && i + 3 < point.size()) {
        decoded += static_cast<char>(std::stoi(point.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        decoded += point[i];
      }
    }
    points.push_back(decoded);
  }
  return points;
}

}  // namespace

bool DirectoryStream::open(const std::string& narrowPath) {
  close();
  if (narrowPath.empty()) {
    return false;
  }
  DIR* dir = ::opendir(narrowPath.c_str());
  if (dir == nullptr) {
    return false;
  }
  char resolved[PATH_MAX];
  if (::realpath(narrowPath.c_str(), resolved) == nullptr) {
    ::closedir(dir);
    return false;
  }
  auto* stream = new Stream{dir, narrowPath, false};
  if (stream->path.back() != '/') {
    stream->path += '/';
  }
  fullPath_ = resolved;
  stream->atRoot = fullPath_ == "/";
  if (fullPath_.back() != '/') {
    fullPath_ += '/';
  }
  handle_ = stream;
  return true;
}

bool DirectoryStream::next(DirectoryEntry& entry) {
  auto* stream = static_cast<Stream*>(handle_);
  if (stream == nullptr) {
    return false;
  }
  while (const dirent* item = ::readdir(stream->dir)) {
    entry.name = item->d_name;
    if (entry.name == ".." && stream->atRoot) {
      continue;
    }
    switch (item->d_type) {
      case DT_DIR:
        entry.type = EntryType::Folder;
        break;
      case DT_REG:
        entry.type = EntryType::RegularFile;
        break;
      default:  // links and file systems that do not say: ask for what the name leads to
        entry.type = typeOf(stream->path + entry.name);
        break;
    }
    return true;
  }
  close();
  return false;
}

void DirectoryStream::close() {
  if (auto* stream = static_cast<Stream*>(handle_)) {
    ::closedir(stream->dir);
    delete stream;
    handle_ = nullptr;
  }
}

bool readEntryAttributes(const std::string& narrowPath, EntryAttributes& out) {
  struct stat info {};
  if (::stat(narrowPath.c_str(), &info) != 0) {
    return false;
  }
  const std::size_t slash = narrowPath.rfind('/');
  const std::string name = narrowPath.substr(slash == std::string::npos ? 0 : slash + 1);
  out.hidden = name.size() > 1 && name[0] == '.' && name != "..";
  out.system = false;
  return true;
}

bool listDrives(std::vector<DriveEntry>& out) {
  out.clear();
  out.push_back({"/", "/"});
  for (const std::string& point : mountPoints()) {
    for (const std::string base : {"/media/", "/run/media/"}) {
      if (point.size() > base.size() && point.compare(0, base.size(), base) == 0) {
        const std::string name = point.substr(point.rfind('/') + 1);
        out.push_back({"Removable Disk: " + name, point + "/"});
      }
    }
  }
  return true;
}

}  // namespace vestrel::platform
