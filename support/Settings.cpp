#include "support/Settings.h"

#include "platform/Platform.h"
#include "support/LocalPaths.h"

namespace vestrel {

std::string loadInstallFolder() {
  std::string value;
  // A relative value would be resolved against whatever folder the installer was started in;
  // it counts as no folder, and the player chooses again.
  if (!platform::readStoredFolder(value) || !platform::isAbsoluteFolder(value)) {
    return {};
  }
  // Every local path is the folder text followed directly by a name, so it must end in a
  // separator; without one, files would land beside the folder instead of in it.
  if (!value.empty() && value.back() != '/' && value.back() != platform::nativeSeparator()) {
    value += '/';
  }
  // A value no path may be made from is refused, not cut: a cut path would name some other
  // folder.
  if (value.size() >= kPathBufferSize) {
    value.clear();
  }
  return value;
}

void forgetInstallFolder() {
  platform::writeStoredFolder("");
}

void saveInstallFolder(const std::string& folder) {
  if (!folder.empty()) {
    platform::writeStoredFolder(folder);
  }
}

}  // namespace vestrel
