#include "update/Workers.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <system_error>
#include <thread>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/Fetcher.h"
#include "update/InstallState.h"
#include "update/VerifyFiles.h"

namespace vestrel {
namespace {

// Workers are detached at once and never joined; the process ends them when it ends.
void startWorker(void (*worker)(InstallState&), InstallState& state) {
  try {
    std::thread(worker, std::ref(state)).detach();
  } catch (const std::system_error&) {
    fatalReport(ReportOrder::LogFirst, {systemText(text::kWorkerStartFailed)},
                platform::narrowText(text::kWalkFailedBox));
  }
}

// Sleeps on the steady clock, waking early when the run is ending.
void waitBeforeRetry(const InstallState& state, std::chrono::milliseconds delay) {
  const auto until = std::chrono::steady_clock::now() + delay;
  while (state.busy != 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) {
      return;
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(50)));
  }
}

}  // namespace

void runFrameProtocol(InstallState& state) {
  // Seeing `verified` (acquire) makes the complete queue visible to the download worker,
  // which this thread starts.
  if (state.verified.load(std::memory_order_acquire)) {
    startWorker(&downloadWorker, state);
    state.verified = false;
    state.busy = 1;
  }
  if (state.verifyRequested) {
    startWorker(&verifyWorker, state);
    state.verifyRequested = false;
    state.downloadDone = 0;
    state.busy = 1;
  } else if (state.busy == 0 && state.downloadDone == 1) {
    state.screenMode = kScreenLaunch;
  }
  const int mode = state.screenMode;
  if ((mode == kScreenUpdate || mode == kScreenInstall) && state.busy == 0 &&
      state.downloadDone == 0) {
    state.verifyRequested = true;
  }
}

void verifyWorker(InstallState& state) {
  if (verifyFiles(state)) {
    state.verified.store(true, std::memory_order_release);
    return;
  }
  // The failure has been reported already; clear the tables and end the run.
  state.pendingCount = 0;
  for (std::string& slot : state.fileQueue) {
    slot.clear();
  }
  for (std::string& slot : state.digestList) {
    slot.clear();
  }
  state.digestCount = 0;
  state.busy = 0;
  logLine(text::kVerifyFailed);
  endRun();
}

void downloadWorker(InstallState& state) {
  std::this_thread::sleep_for(std::chrono::seconds(1));  // steady clock
  if (state.busy == 0) {
    return;
  }
  auto retryDelay = kFirstRetryDelay;
  for (;;) {
    const int n = state.pendingCount;
    if (n <= 0) {
      // This order keeps the screen from seeing busy 0 with downloadDone 0 after a finished
      // download, which would request a second verification.
      state.downloadDone = 1;
      state.busy = 0;
      return;
    }
    std::string& entry = state.fileQueue[static_cast<std::size_t>(n - 1)];
    if (entry.empty()) {
      state.pendingCount = n - 1;
    } else if (fetchFile(state, entry, entry)) {
      entry.clear();
      state.pendingCount = n - 1;
      retryDelay = kFirstRetryDelay;
    } else {
      // Tried again for as long as it takes, each attempt reported. The pause keeps a box
      // that returns at once (no display to show it on) from turning into a hot loop.
      showError(platform::narrowText(text::kRepositoryFailedBox));
      logLine(text::kFileFailed, entry.c_str());
      if (state.busy == 0) {
        return;
      }
      waitBeforeRetry(state, retryDelay);
      retryDelay = std::min(retryDelay * 2, kLongestRetryDelay);
    }
    if (state.busy == 0) {
      return;
    }
  }
}

}  // namespace vestrel
