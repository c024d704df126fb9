// Whether the player may write in a folder: on Windows only trying tells (access lists,
// folders a standard account may only read, such as Program Files), so the installer tries.
#pragma once

#include <string>

namespace vestrel {

// Creates a small file in `narrowFolder` and removes it again. False, with the system's reason
// in `why`, when it cannot be created.
bool folderWritable(const std::string& narrowFolder, std::string& why);

}  // namespace vestrel
