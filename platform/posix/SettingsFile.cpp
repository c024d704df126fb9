// The POSIX settings store: one small file per user that holds exactly the folder's bytes.
// It stands in for the per-user registry value, with the same rules: a missing store is
// created holding an empty value, and every save replaces the value whole.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/Platform.h"
#include "platform/posix/SettingsFile.h"

namespace vestrel::platform {
namespace posix {
namespace {

void (*g_beforeReplaceHook)() = nullptr;

std::string configHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    return xdg;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* entry = getpwuid(getuid());
    home = entry != nullptr ? entry->pw_dir : "/";
  }
  return std::string(home) + "/.config";
}

}  // namespace

std::string settingsFolder() {
  return configHome() + "/Vestrel";
}

bool makeFolders(const std::string& folder) {
  for (std::size_t slash = 1; slash <= folder.size(); ++slash) {
    if (slash == folder.size() || folder[slash] == '/') {
      const std::string prefix = folder.substr(0, slash);
      if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
      }
    }
  }
  return true;
}

namespace {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Writes the value to a temporary file beside the store, flushes it to disk and renames it
// over the store, so a crash at any point leaves either the old value or the new one.
bool replaceValue(const std::string& value) {
  const std::string folder = settingsFolder();
  if (!makeFolders(folder)) {
    return false;
  }
  std::string temp = folder + "/.launcherPath.XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool written = writeAll(fd, value) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written) {
    ::unlink(temp.c_str());
    return false;
  }
  if (g_beforeReplaceHook != nullptr) {
    g_beforeReplaceHook();
  }
  if (::rename(temp.c_str(), settingsFilePath().c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  syncFolder(folder);
  return true;
}

}  // namespace

std::string settingsFilePath() {
  return settingsFolder() + "/launcherPath";
}

void setBeforeReplaceHook(void (*hook)()) {
  g_beforeReplaceHook = hook;
}

}  // namespace posix

bool readStoredFolder(std::string& narrow) {
  narrow.clear();
  const int fd = ::open(posix::settingsFilePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      // No store yet: create it holding an empty value, as a first run does.
      posix::replaceValue(std::string());
      return true;
    }
    return false;
  }
  char chunk[4096];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got == 0) {
      break;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      ok = false;
      break;
    }
    narrow.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  // A value with a NUL byte inside is not a folder text.
  if (!ok || narrow.find('\0') != std::string::npos) {
    narrow.clear();
    return false;
  }
  return true;
}

void writeStoredFolder(const std::string& narrow) {
  posix::replaceValue(narrow);
}

}  // namespace vestrel::platform
