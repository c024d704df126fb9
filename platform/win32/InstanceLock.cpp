// One installer at a time on Windows: a named mutex in the session's Local\ namespace. The
// system closes the handle when the process ends, however it ends.
#include <windows.h>

#include "platform/Platform.h"

namespace vestrel::platform {

InstanceLock acquireInstanceLock() {
  // Not inheritable, so the started update tool and launcher never hold it.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\VestrelInstaller");
  if (mutex == nullptr) {
    return InstanceLock::Unavailable;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return InstanceLock::HeldElsewhere;
  }
  return InstanceLock::Acquired;  // the handle stays open for the life of the process
}

}  // namespace vestrel::platform
