// Where a run of the installer stands. The stage is one atomic value in the install state,
// written by whichever thread moves the run on and read by the window each frame; it changes
// only through moveToStage, which refuses any step its table does not hold.
//
//   Choosing     no folder yet: the window shows the chooser
//   Preparing    the release, the folder list and the folders (the run's thread from here on)
//   Verifying    the file and digest lists, and the walk that hashes the install folder
//   Downloading  what the walk found missing or wrong
//   Launching    the update tool and the launcher are started
//   Ended        the run is over, whichever way: the window closes
#pragma once

#include <atomic>

namespace vestrel {

enum class RunStage { Choosing, Preparing, Verifying, Downloading, Launching, Ended };

// Whether the table holds the step from `from` to `to`: each stage leads to the next, and
// every stage but the last may end the run.
bool stageStepAllowed(RunStage from, RunStage to);

// Moves `stage` on to `next`. False, with nothing changed, when the step is not in the table
// from the stage it holds.
bool moveToStage(std::atomic<RunStage>& stage, RunStage next);

}  // namespace vestrel
