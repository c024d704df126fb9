// The program's own files on POSIX: the build stages them beside the program, so nothing is
// built in.
#include <unistd.h>

#include <array>

#include "platform/Platform.h"

namespace vestrel::platform {

std::string programFolder() {
  std::array<char, 4096> path{};
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
    return {};
  }
  std::string folder(path.data(), static_cast<std::size_t>(length));
  folder.erase(folder.rfind('/') + 1);
  return folder;
}

bool builtInFile(int, const unsigned char*&, std::size_t&) {
  return false;
}

}  // namespace vestrel::platform
