// Refusing a server list that the installer must not act on.
#pragma once

#include <string>

namespace vestrel {

// Logs the offending line with the list's name and shows the box that tells the player the
// server sent an unusable list. The caller then ends the run through its failure path.
void reportRefusedList(const char* listName, const std::string& narrowLine);

}  // namespace vestrel
