#include "support/Settings.h"

#include <string>

#include "platform/Platform.h"
#include "update/InstallState.h"

namespace vestrel {

void loadLauncherPath(InstallState& state) {
  std::string value;
  // A relative value would be resolved against whatever folder the installer was started in;
  // it counts as no folder, and the player chooses again.
  if (!platform::readStoredFolder(value) || !platform::isAbsoluteFolder(value)) {
    value.clear();
  }
  // Every local path is the folder text followed directly by a name, so it must end in a
  // separator; without one, files would land beside the folder instead of in it.
  if (!value.empty() && value.back() != '/' && value.back() != platform::nativeSeparator()) {
    value += '/';
  }
  // A value the 260-byte install root cannot hold is refused, not cut: a cut path would
  // name some other folder.
  if (value.size() >= kPathBufferSize) {
    value.clear();
  }
  state.launcherPath = value;
  state.pathKnown = !value.empty();
}

void forgetLauncherPath(InstallState& state) {
  state.launcherPath.clear();
  state.pathKnown = false;
  platform::writeStoredFolder("");
}

void saveLauncherPath(const InstallState& state) {
  if (!state.launcherPath.empty()) {
    platform::writeStoredFolder(state.launcherPath);
  }
}

}  // namespace vestrel
