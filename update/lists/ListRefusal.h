// Refusing a server list that the installer must not act on.
#pragma once

#include <string>

namespace vestrel {

// Logs the offending line (made printable) with the list's name and shows the box that tells
// the player the server sent an unusable list. The caller then ends the run through its
// failure path.
void reportRefusedList(const char* listName, const std::string& narrowLine);

// The same refusal for a list whose body passed the size limit while it arrived.
void reportOversizedList(const char* listName);

}  // namespace vestrel
