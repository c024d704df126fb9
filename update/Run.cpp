#include "update/Run.h"

#include <system_error>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/PrepareDirectories.h"
#include "update/ReleaseCheck.h"
#include "update/RunContext.h"
#include "update/VerifiedRecord.h"
#include "update/VerifyFiles.h"
#include "update/net/ParallelDownloads.h"

namespace vestrel {

Run::~Run() {
  stop();
}

bool Run::start(RunContext& context, Finish atLaunch) {
  if (!moveToStage(context.state.stage, RunStage::Preparing)) {
    return false;
  }
  try {
    thread_ =
        std::jthread([this, &context, atLaunch = std::move(atLaunch)] { body(context, atLaunch); });
    return true;
  } catch (const std::system_error&) {
    fatalReport(ReportOrder::LogFirst, {systemText(text::kWorkerStartFailed)},
                platform::narrowText(text::kWalkFailedBox));
    logEnd();
    moveToStage(context.state.stage, RunStage::Ended);
    return false;
  }
}

void Run::body(RunContext& context, const Finish& atLaunch) {
  if (updateInstall(context) && moveToStage(context.state.stage, RunStage::Launching)) {
    atLaunch(context);
  }
  // The end banner is the run's last record, however it ended.
  logEnd();
  moveToStage(context.state.stage, RunStage::Ended);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  finished_.notify_all();
}

bool Run::stop(std::chrono::milliseconds patience) {
  stop_.request_stop();
  if (!thread_.joinable()) {
    return true;
  }
  // A box the run shows would hold it until the player answers: it is dismissed.
  endBoxes();
  supportContext().boxes.end();
  std::unique_lock<std::mutex> lock(mutex_);
  const bool ended = patience == std::chrono::milliseconds::max()
                         ? (finished_.wait(lock, [this] { return ended_; }), true)
                         : finished_.wait_for(lock, patience, [this] { return ended_; });
  lock.unlock();
  if (ended) {
    thread_.join();
  }
  return ended;
}

void Run::holdForWindow() {
  const std::lock_guard<std::mutex> lock(mutex_);
  heldForWindow_ = true;
}

void Run::windowShown() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    heldForWindow_ = false;
  }
  windowShown_.notify_all();
}

bool Run::awaitWindow() {
  std::unique_lock<std::mutex> lock(mutex_);
  return windowShown_.wait(lock, stop_.get_token(), [this] { return !heldForWindow_; });
}

bool updateInstall(RunContext& context) {
  // What the round fetched but the run never came to take goes when the run ends, however.
  struct DiscardUntaken {
    ListRound& round;
    ~DiscardUntaken() { round.discard(); }
  } discardUntaken{context.lists};
  InstallState& state = context.state;
  const std::stop_token stop = context.run.stopToken();
  if (!prepareDirectories(state, state.installFolder) || stop.stop_requested() ||
      !moveToStage(state.stage, RunStage::Verifying)) {
    return false;
  }
  if (!verifyFiles(state)) {
    if (!stop.stop_requested()) {
      logLine(text::kVerifyFailed);
    }
    return false;
  }
  if (stop.stop_requested() || !moveToStage(state.stage, RunStage::Downloading)) {
    return false;
  }
  if (downloadQueue(state) != DownloadEnd::Complete) {
    return false;  // stopped, or reported: the player's files are as they were
  }
  keepRelease(state);
  saveVerifiedRecord(state);
  return true;
}

}  // namespace vestrel
