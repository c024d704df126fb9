#include "platform/FileStamp.h"

#include <sys/stat.h>

namespace vestrel::platform {

bool readFileStamp(const std::string& narrowPath, FileStamp& out) {
  struct stat info {};
  if (::lstat(narrowPath.c_str(), &info) != 0) {
    return false;
  }
  out.size = static_cast<std::uint64_t>(info.st_size);
  out.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  out.identity = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

}  // namespace vestrel::platform
