// Starting the installed programs and looking for a running launcher on POSIX.
//
// A program is started with posix_spawn, which reports a failed exec to the caller at once,
// the way a failed CreateProcess does. The child gets its own session so that it outlives
// the installer, the installer's environment, the install folder as working directory,
// /dev/null for its standard streams and no other descriptor of ours.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "platform/Platform.h"

extern char** environ;

namespace vestrel::platform {
namespace {

int startErrorCode(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kStartFileNotFound;
    case EACCES:
    case EPERM:
      return kStartAccessDenied;
    default:
      return error;
  }
}

// Downloaded files carry no permission bits; the owner may always run what was installed.
void allowOwnerToRun(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && !(info.st_mode & S_IXUSR)) {
    ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR);
  }
}

// The image name of a process, as the system's process list shows it: the file name of its
// executable. Zombies and processes that end while we look return false.
bool imageName(const std::string& pid, std::string& name) {
  const std::string base = "/proc/" + pid;
  std::ifstream stat(base + "/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return false;
  }
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z') {
    return false;
  }
  char target[4096];
  const ssize_t length = ::readlink((base + "/exe").c_str(), target, sizeof target - 1);
  if (length > 0) {
    std::string exe(target, static_cast<std::size_t>(length));
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() &&
        exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0) {
      exe.resize(exe.size() - deleted.size());
    }
    name = exe.substr(exe.rfind('/') + 1);
    return true;
  }
  // Without access to the executable link, the kernel's own name serves while it is whole
  // (it keeps at most 15 bytes).
  const std::size_t open = line.find('(');
  if (open == std::string::npos || close - open - 1 >= 15) {
    return false;
  }
  name = line.substr(open + 1, close - open - 1);
  return true;
}

}  // namespace

int startProgram(const std::string& narrowPath, const std::string& narrowWorkingDirectory,
                 const std::string& argument) {
  allowOwnerToRun(narrowPath);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  for (int fd = 0; fd < 3; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawn_file_actions_addchdir_np(&actions, narrowWorkingDirectory.c_str());

  std::string program = narrowPath;
  std::string word = argument;
  char* argv[] = {program.data(), word.data(), nullptr};
  pid_t child = 0;
  const int error = ::posix_spawn(&child, narrowPath.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return error == 0 ? kStartOk : startErrorCode(error);
}

std::uint32_t findRunningProcess(const std::string& imageNameWanted) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) {
    return 0;
  }
  std::uint32_t found = 0;
  while (const dirent* entry = ::readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::string name;
    if (imageName(pid, name) && name == imageNameWanted) {
      found = static_cast<std::uint32_t>(std::stoul(pid));
      break;
    }
  }
  ::closedir(proc);
  return found;
}

}  // namespace vestrel::platform
