// Where the POSIX settings store keeps the install folder, and a seam for crash tests.
#pragma once

#include <string>

namespace vestrel::platform::posix {

// ${XDG_CONFIG_HOME:-$HOME/.config}/Vestrel/launcherPath
std::string settingsFilePath();

// Called after the new value is safely in its temporary file and before it replaces the
// old one. Tests use it to stop the process at the worst moment.
void setBeforeReplaceHook(void (*hook)());

}  // namespace vestrel::platform::posix
