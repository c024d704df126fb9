// Renames and removals that another program may refuse for a moment: on Windows an antivirus
// scans each fresh file as it appears and holds it while it does. An operation refused so
// (platform::heldByAnotherProgram) is tried again, with pauses from 50 ms doubling to 2 s, for
// up to kLongestHold before it counts as failed; the log says so once per file. A run that
// stops ends the waiting at once.
#pragma once

#include <chrono>
#include <stop_token>
#include <string>

namespace vestrel {

inline constexpr std::chrono::seconds kLongestHold{30};

// platform::replaceFile, tried again while the file is held.
bool replaceWhenFree(const std::string& from, const std::string& to, int& error,
                     std::stop_token stop = {});
// Removes a file, tried again while it is held; a file that is not there counts as removed.
bool removeWhenFree(const std::string& path, int& error, std::stop_token stop = {});

}  // namespace vestrel
