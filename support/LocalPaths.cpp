#include "support/LocalPaths.h"

#include <filesystem>
#include <system_error>

#include "platform/Platform.h"

namespace vestrel {

std::string joinPath(std::string_view folder, std::string_view relative) {
  if (folder.empty()) {
    return std::string(relative);
  }
  // A folder of nothing but separators is the system's root: it keeps its one '/'.
  while (folder.size() > 1 && folder.back() == '/') {
    folder.remove_suffix(1);
  }
  while (!relative.empty() && relative.front() == '/') {
    relative.remove_prefix(1);
  }
  std::string joined(folder);
  if (joined.back() != '/') {
    joined += '/';
  }
  return joined += relative;
}

void removeIfPresent(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(platform::toFsPath(path), ignored);
}

}  // namespace vestrel
