// One installer at a time on POSIX: an exclusive flock on installer.lock in the settings
// folder. The kernel drops the lock when the process ends, however it ends, so a crashed
// installer never blocks the next one.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Platform.h"
#include "platform/posix/SettingsFile.h"

namespace vestrel::platform {

InstanceLock acquireInstanceLock() {
  const std::string folder = posix::settingsFolder();
  if (!posix::makeFolders(folder)) {
    return InstanceLock::Unavailable;
  }
  // Close-on-exec: the started update tool and launcher must not keep the lock.
  const int fd = ::open((folder + "/installer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return InstanceLock::Unavailable;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    return InstanceLock::Acquired;  // the descriptor stays open for the life of the process
  }
  const int error = errno;
  ::close(fd);
  return error == EWOULDBLOCK ? InstanceLock::HeldElsewhere : InstanceLock::Unavailable;
}

}  // namespace vestrel::platform
