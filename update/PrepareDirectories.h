// Turns the chosen folder into the install root and creates the server's folder tree in it.
#pragma once

#include <string>

namespace vestrel {

struct InstallState;

// Adjusts the folder text by the platform's path rules, makes it launcherPath and the
// state's install root, creates the root (one level) when it is missing, fetches udirs.lists and
// creates every listed folder, moving aside a file that stands where a listed folder
// belongs. Returns true; when the list cannot be fetched, is refused,
// or a folder cannot be created, it ends the process through a fatal report instead.
bool prepareDirectories(InstallState& state, std::string folder);

// Creates the install folder (one level) when it is missing, so that the log can start in it
// before anything else happens; ends the process through a fatal report when it cannot.
void makeInstallFolder(const std::string& folder);

}  // namespace vestrel
