// Where the POSIX settings store keeps the install folder, and a seam for crash tests.
#pragma once

#include <string>

namespace vestrel::platform::posix {

// ${XDG_CONFIG_HOME:-$HOME/.config}/Vestrel, the per-user settings folder.
std::string settingsFolder();
// Creates the settings folder and any missing parent (mode 0700). False when it cannot.
bool makeFolders(const std::string& folder);

// ${XDG_CONFIG_HOME:-$HOME/.config}/Vestrel/launcherPath
std::string settingsFilePath();

// Called after the new value is safely in its temporary file and before it replaces the
// old one. Tests use it to stop the process at the worst moment.
void setBeforeReplaceHook(void (*hook)());

}  // namespace vestrel::platform::posix
