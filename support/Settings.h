// The remembered install folder, kept in the platform's per-user settings store.
#pragma once

namespace vestrel {

struct InstallState;

// Fills launcherPath and pathKnown from the store. A missing, unreadable or oversized
// value (more than 259 bytes) counts as no folder.
void loadLauncherPath(InstallState& state);

// Writes launcherPath to the store. An empty launcherPath writes nothing, so a stored
// folder is never erased by accident.
void saveLauncherPath(const InstallState& state);

// Erases the stored folder and the state's: the next run, or this one's chooser, asks again.
void forgetLauncherPath(InstallState& state);

}  // namespace vestrel
