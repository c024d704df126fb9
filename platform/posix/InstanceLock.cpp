// One installer at a time on POSIX: an exclusive record lock on installer.lock in the
// settings folder. The kernel drops the lock when the process ends, however it ends, so a
// crashed installer never blocks the next one. A record lock belongs to the process alone:
// a child it forks (the toolkit shows error boxes from one) does not hold it, so a box left
// on screen by a killed installer never keeps the next one out.
#include <fcntl.h>
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
  // Close-on-exec: the started update tool and launcher must not keep the file open.
  const int fd = ::open((folder + "/installer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return InstanceLock::Unavailable;
  }
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (::fcntl(fd, F_SETLK, &whole) == 0) {
    return InstanceLock::Acquired;  // the descriptor stays open for the life of the process
  }
  const int error = errno;
  ::close(fd);
  return error == EACCES || error == EAGAIN ? InstanceLock::HeldElsewhere
                                            : InstanceLock::Unavailable;
}

}  // namespace vestrel::platform
