// The last step of a run: start the update tool and the launcher from the install folder,
// refuse to start a second launcher, and end the installer.
#pragma once

#include <cstdint>
#include <string>

namespace vestrel {

struct InstallState;

// Starts updateTool.exe, checks that no process.exe runs, starts process.exe, and ends the
// process with status 0 on every path, success and failure alike. Every failure is logged
// and shown; the end banner is the last log record. Never returns.
[[noreturn]] void launchInstalled(InstallState& state);

}  // namespace vestrel
