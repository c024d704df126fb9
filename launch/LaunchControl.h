// The last step of a run: start the update tool and the launcher from the install folder and
// refuse to start a second launcher. The run ends after it.
#pragma once

#include <cstdint>
#include <string>

namespace vestrel {

struct InstallState;

// Starts updateTool.exe, checks that no process.exe runs, starts process.exe, and saves the
// folder. Every failure is logged and shown, and stops the launch there. On the run's thread,
// as its last step (update/Run.h); the run then writes the end banner.
void launchInstalled(InstallState& state);

}  // namespace vestrel
