// Turns the chosen folder into the install root and creates the server's folder tree in it.
#pragma once

#include <string>

namespace vestrel {

struct InstallState;

// Adjusts the folder text by the platform's path rules, makes it launcherPath and the
// state's install root, creates the root (one level) when it is missing, fetches udirs.lists and
// creates every listed folder. Returns true; when the list cannot be fetched, is refused,
// or a folder cannot be created, it ends the process through a fatal report instead.
bool prepareDirectories(InstallState& state, std::string folder);

}  // namespace vestrel
