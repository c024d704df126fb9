#include "support/Settings.h"

#include <string>

#include "platform/Platform.h"
#include "update/InstallState.h"

namespace vestrel {

void loadLauncherPath(InstallState& state) {
  std::string value;
  // A value the 260-byte install root cannot hold is refused, not cut: a cut path would
  // name some other folder.
  if (!platform::readStoredFolder(value) || value.size() >= kPathBufferSize) {
    value.clear();
  }
  state.launcherPath = value;
  state.pathKnown = !value.empty();
}

void saveLauncherPath(const InstallState& state) {
  if (!state.launcherPath.empty()) {
    platform::writeStoredFolder(state.launcherPath);
  }
}

}  // namespace vestrel
