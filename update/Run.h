// The run's own thread, which does all of a run's work after the folder is known, so that the
// window never waits on the network or the disk: it prepares the folder (the release, the
// folder list), verifies the files, downloads what is missing or wrong and, once everything is
// verified, hands over to the launch. It moves the install state's stage along the way
// (update/RunStage.h); the window only reads it.
//
// A failure is reported where it happens (log lines and a box), and the run then ends: its
// thread writes the log's end banner and moves the stage to Ended. A run asked to stop ends
// the same way, as soon as whatever it is waiting on lets it: every transfer and every pause
// looks at stopToken().
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "support/Pause.h"

namespace vestrel {

struct RunContext;

class Run {
 public:
  // What the run does once every listed file is in place and verified, in the Launching
  // stage: the launch control starts the programs (launch/LaunchControl.h).
  using Finish = std::function<void(RunContext&)>;

  Run() = default;
  // Stops the run and joins its thread.
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Starts the run on its thread, moving the stage from Choosing to Preparing. The install
  // state's folder must be set. False when no thread could be had: that is reported, the log
  // is ended and the stage is Ended.
  bool start(RunContext& context, Finish atLaunch);

  // Asks the run to stop and ends its boxes, then waits up to `patience` for its thread.
  // True once the thread has ended and is joined (or never started). False when the system
  // holds it in a call that does not return (a file on a share that does not answer): it is
  // then not joined, and the process must end without it.
  bool stop(std::chrono::milliseconds patience = std::chrono::milliseconds::max());

  // A run started before its window exists fetches the release and the lists, but reports,
  // prints and changes nothing until the window is there: holdForWindow() before start(),
  // windowShown() once it is. A run never held does not wait.
  void holdForWindow();
  void windowShown();
  // On the run's thread: waits until the window is there. False when the run was asked to
  // stop first (a window that could not be made stops it).
  bool awaitWindow();

  // Every wait of the run looks at this; a test may stop a run it drives on its own thread.
  std::stop_token stopToken() const { return stop_.get_token(); }
  void requestStop() { stop_.request_stop(); }

 private:
  void body(RunContext& context, const Finish& atLaunch);

  std::stop_source stop_;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool ended_ = false;
  bool heldForWindow_ = false;
  std::condition_variable_any windowShown_;
  std::jthread thread_;  // last: joined before the rest goes
};

// The stages from Preparing until everything is verified, on the calling thread: true when
// every listed file is in place and verified. False when the run failed (reported) or was
// asked to stop.
bool updateInstall(RunContext& context);

}  // namespace vestrel
