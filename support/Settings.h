// The remembered install folder, kept in the platform's per-user settings store.
#pragma once

#include <string>

namespace vestrel {

// The stored folder, ending in a separator; empty when there is none. A missing, unreadable,
// relative or oversized value (more than 259 bytes) counts as no folder.
std::string loadInstallFolder();

// Writes `folder` to the store. An empty folder writes nothing, so a stored folder is never
// erased by accident.
void saveInstallFolder(const std::string& folder);

// Erases the stored folder: the next run asks again.
void forgetInstallFolder();

}  // namespace vestrel
