// The two worker threads and the per-frame protocol that starts them and reads their outcome.
//
// The verification worker runs the verification pass; on success it sets `verified`, and the
// next frame starts the download worker, which fetches the queued files one at a time from
// the highest occupied slot down, retrying a failed file without limit. The threads hand work
// to each other only through the atomic flags of the install state.
#pragma once

namespace vestrel {

struct InstallState;

// Called by the screen once per frame, on the GUI thread, once an install folder is known.
// It may start a worker, request verification, or set screenMode to launch.
void runFrameProtocol(InstallState& state);

// Thread functions. Both work on installState().
void verifyWorker();
void downloadWorker();

}  // namespace vestrel
