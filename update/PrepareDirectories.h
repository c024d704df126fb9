// Turns the chosen folder into the install folder and creates the server's folder tree in it.
#pragma once

#include <string>

namespace vestrel {

struct InstallState;

// Adjusts the folder text by the platform's path rules and makes it the state's install
// folder, makes the folder (with its parents) when it is missing, fetches the release and the
// lists in one round (update/ListRound.h), takes the release and udirs.lists from it and
// creates every listed folder, moving aside a file that stands where a listed
// folder belongs. False when the run cannot go on: the list could not be fetched or was
// refused, or a folder could not be created (each reported), or the run was stopped.
bool prepareDirectories(InstallState& state, std::string folder);

// Makes the install folder, with every missing parent, by the platform's path rules, and
// checks that the player may write there. False, with the system's reason in `why`, when
// either fails: the folder cannot be installed into.
bool makeInstallFolder(const std::string& folder, std::string& why);

}  // namespace vestrel
