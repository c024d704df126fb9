// The two worker threads and the per-frame protocol that starts them and reads their outcome.
//
// The verification worker runs the verification pass; on success it sets `verified`, and the
// next frame starts the download worker, which fetches the queued files, several at a time,
// retrying a failed file without limit after a growing pause (update/net/ParallelDownloads.h).
// The threads hand work to each other only through the atomic flags of the install state.
//
// The stages of a run, as the flags spell them (the frame protocol moves between them):
//
//   stage        busy  verified  downloadDone  who acts next
//   Idle         0     false     0             the frame requests and starts verification
//   Verifying    1     false     0             the verification worker
//   Verified     1     true      0             the frame starts the download worker
//   Downloading  1     false     0             the download worker
//   Done         0     false     1             the frame switches screenMode to launch
//
// A failed verification ends the run from its worker, so it has no stage of its own.
#pragma once

namespace vestrel {

struct InstallState;

// Called by the screen once per frame, on the GUI thread, once an install folder is known.
// It may start a worker, request verification, or set screenMode to launch.
void runFrameProtocol(InstallState& state);

// Thread functions; the frame protocol starts them on the state it was given.
void verifyWorker(InstallState& state);
void downloadWorker(InstallState& state);

// Replaces how the frame protocol starts a worker (tests run it to its end on the calling
// thread, the soonest a worker can finish). nullptr restores detached threads.
using WorkerStarter = void (*)(void (*worker)(InstallState&), InstallState& state);
void setWorkerStarter(WorkerStarter starter);

}  // namespace vestrel
