// Error boxes of failures that the run retries by itself: never more than one up at a time,
// and never a reason for the work to wait.
//
// A report is shown on a thread of its own, so retries go on with their back-off while the
// player has not yet closed it. While a box is up, further failures are only logged. A failure
// of a kind already shown in this run is shown again at most once every kBoxRepeat, and the
// download worker's own "repository" box comes once per run, after the first report shown.
#pragma once

#include <chrono>
#include <string>

namespace vestrel {

enum class BoxKind { Connection, Status, Digest, Write, Count };

inline constexpr std::chrono::minutes kBoxRepeat{5};

// Offers one report of the download worker: the fetcher's box (empty: none), then, the
// first time a report is shown, the repository box. False when the report is withheld; its
// failure has been logged by then anyway.
bool offerBoxes(BoxKind kind, std::string narrowText);

// The run has what it came for: the box up now ends (with whatever process of the system
// shows it) and none follows.
void endBoxes();

// Waits until no box is up (tests).
void waitForBoxesForTesting();
// Forgets what was shown, as a new run starts (tests).
void resetBoxGateForTesting();

}  // namespace vestrel
