#include "update/Workers.h"

#include <functional>
#include <system_error>
#include <thread>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/ReleaseCheck.h"
#include "update/VerifyFiles.h"
#include "update/net/ParallelDownloads.h"

namespace vestrel {
namespace {

WorkerStarter g_starter = nullptr;

// Workers are detached at once and never joined; the process ends them when it ends.
void startWorker(void (*worker)(InstallState&), InstallState& state) {
  if (g_starter != nullptr) {
    g_starter(worker, state);
    return;
  }
  try {
    std::thread(worker, std::ref(state)).detach();
  } catch (const std::system_error&) {
    fatalReport(ReportOrder::LogFirst, {systemText(text::kWorkerStartFailed)},
                platform::narrowText(text::kWalkFailedBox));
  }
}

}  // namespace

void runFrameProtocol(InstallState& state) {
  // Seeing `verified` (acquire) makes the complete queue visible to the download worker,
  // which this thread starts. The flags are set before a worker starts: a worker with
  // nothing to do can finish at once, and its final stores must not be overwritten.
  if (state.verified.load(std::memory_order_acquire)) {
    state.verified = false;
    state.busy = 1;
    state.downloading = true;
    startWorker(&downloadWorker, state);
  }
  if (state.verifyRequested) {
    state.verifyRequested = false;
    state.downloadDone = 0;
    state.downloading = false;
    state.busy = 1;
    startWorker(&verifyWorker, state);
  } else if (state.busy == 0 && state.downloadDone == 1) {
    state.screenMode = kScreenLaunch;
  }
  const int mode = state.screenMode;
  if ((mode == kScreenUpdate || mode == kScreenInstall) && state.busy == 0 &&
      state.downloadDone == 0) {
    state.verifyRequested = true;
  }
}

void setWorkerStarter(WorkerStarter starter) {
  g_starter = starter;
}

void verifyWorker(InstallState& state) {
  if (verifyFiles(state)) {
    state.verified.store(true, std::memory_order_release);
    return;
  }
  // The failure has been reported already; clear the tables and end the run. `busy` stays
  // set: a frame that saw it clear would start a second verification while the process ends.
  state.pendingCount = 0;
  for (std::string& slot : state.fileQueue) {
    slot.clear();
  }
  for (std::string& slot : state.digestList) {
    slot.clear();
  }
  state.digestCount = 0;
  logLine(text::kVerifyFailed);
  endRun();
}

void downloadWorker(InstallState& state) {
  if (state.busy == 0) {
    return;
  }
  switch (downloadQueue(state)) {
    case DownloadEnd::Stopped:
      return;  // the run is ending
    case DownloadEnd::DiskFull:
    case DownloadEnd::Refused:
      endRun();  // reported; the player's files are as they were
    case DownloadEnd::Complete:
      break;
  }
  keepRelease(state);
  // This order keeps the screen from seeing busy 0 with downloadDone 0 after a finished
  // download, which would request a second verification.
  state.downloadDone = 1;
  state.busy = 0;
}

}  // namespace vestrel
