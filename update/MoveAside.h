// Clearing the way for a listed entry without losing what stood there.
//
// A release may turn a file into a folder or a folder into a file; what the player's folder
// holds under that name may be the player's own. It is moved aside inside the install folder,
// under a name that keeps it, never deleted.
#pragma once

#include <string>

namespace vestrel {

// Renames the entry at `narrowPath` to the first free name of NAME.old, NAME.old-2, ... and
// logs it. False, logged, when it could not be moved.
bool moveAside(const std::string& narrowPath);

}  // namespace vestrel
