// POSIX path rules: '/' is the only separator and there are no drive letters, so folder
// texts are used exactly as they are.
#include <cerrno>
#include <cstdio>

#include "platform/Platform.h"

namespace vestrel::platform {

std::string adjustInstallFolder(std::string folder) {
  return folder;
}

std::string nativeFolder(std::string folder) {
  return folder;
}

bool isAbsoluteFolder(const std::string& narrow) {
  return !narrow.empty() && narrow[0] == '/';
}

char nativeSeparator() {
  return '/';
}

std::FILE* openFile(const std::string& narrowPath, const char* mode) {
  return std::fopen(narrowPath.c_str(), mode);
}

bool seekFile(std::FILE* file, std::uint64_t offset) {
  return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool replaceFile(const std::string& narrowFrom, const std::string& narrowTo, int& error) {
  // rename() replaces the target atomically.
  if (std::rename(narrowFrom.c_str(), narrowTo.c_str()) == 0) {
    return true;
  }
  error = errno;
  return false;
}

bool removeFile(const std::string& narrow, int& error) {
  if (std::remove(narrow.c_str()) == 0) {
    return true;
  }
  error = errno;
  return false;
}

bool heldByAnotherProgram(int) {
  return false;
}

std::filesystem::path toFsPath(const std::string& narrow) {
  return std::filesystem::path(narrow);
}

bool fromFsPath(const std::filesystem::path& path, std::string& narrow) {
  narrow = path.native();
  return true;
}

std::string driveRootOf(const std::string& absolutePath) {
  return absolutePath.empty() || absolutePath[0] != '/' ? std::string() : std::string("/");
}

}  // namespace vestrel::platform
