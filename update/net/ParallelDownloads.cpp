#include "update/net/ParallelDownloads.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/BoxGate.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/RunContext.h"
#include "update/net/FetchReport.h"
#include "update/net/FileDownload.h"
#include "update/net/TransferDriver.h"

namespace vestrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long the loop sleeps at most when nothing wakes it, so that the end of the run is seen.
constexpr std::chrono::milliseconds kLongestPoll{100};

// Where a file stands. A job changes state only through DownloadRun::moveTo, and every count
// ("in flight", "done") is read off the states.
enum class JobState {
  Waiting,   // may be started once readyAt has come
  InFlight,  // its transfer is in the multi handle
  Done,      // verified and in place
};

struct Job {
  std::size_t slot = 0;
  std::string entry;
  JobState state = JobState::Waiting;
  std::unique_ptr<FileDownload> download;  // while in flight
  Clock::time_point readyAt{};             // when it may start (again)
  std::chrono::milliseconds nextDelay = kFirstRetryDelay;
};

class DownloadRun {
 public:
  DownloadRun(InstallState& state, std::stop_token stop) : state_(state), stop_(std::move(stop)) {
    // Highest slot first, as the files have always been taken.
    for (std::size_t slot = state.fileQueue.size(); slot-- > 0;) {
      if (!state.fileQueue[slot].empty()) {
        Job job;
        job.slot = slot;
        job.entry = state.fileQueue[slot];
        jobs_.push_back(std::move(job));
      }
    }
  }

  DownloadEnd run() {
    TransferDriver driver(stop_);
    driver.allowStreams(kMultiplexedTransfers, kParallelTransfers);
    for (;;) {
      if (driver.stopped()) {
        removeAll(driver);
        return DownloadEnd::Stopped;
      }
      // The lists' answers say which the server speaks; every finished file says it again.
      const std::size_t limit =
          runContext().net.connection.multiplexes() ? kMultiplexedTransfers : kParallelTransfers;
      startReady(driver, limit - std::min(limit, count(JobState::InFlight)));
      if (endingFailure_.has_value()) {
        return stopForEndingFailure(driver);
      }
      if (count(JobState::Done) == jobs_.size()) {
        publishProgress();
        return DownloadEnd::Complete;
      }
      const std::size_t finished =
          driver.step([this](const TransferEnd& end) { transferEnded(end); });
      if (endingFailure_.has_value()) {
        return stopForEndingFailure(driver);
      }
      publishProgress();
      if (finished == 0) {
        driver.wait(pollWait());
      }
      // Otherwise straight round again: a finished transfer's place is taken at once, over the
      // connection it leaves idle, instead of after the next wake-up.
    }
  }

 private:
  // The one place a job's state changes. A job that goes back to waiting after a failed
  // attempt pauses first, each pause longer than the last.
  static void moveTo(Job& job, JobState next) {
    if (next == JobState::Waiting && job.state == JobState::InFlight) {
      job.readyAt = Clock::now() + job.nextDelay;
      job.nextDelay = std::min(job.nextDelay * 2, kLongestRetryDelay);
    }
    job.state = next;
  }

  std::size_t count(JobState state) const {
    return static_cast<std::size_t>(std::count_if(
        jobs_.begin(), jobs_.end(), [state](const Job& job) { return job.state == state; }));
  }

  // Starts waiting jobs whose time has come, up to `room` of them; a job that cannot even
  // start is reported like a failed download.
  void startReady(TransferDriver& driver, std::size_t room) {
    std::size_t started = 0;
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < jobs_.size() && started < room; ++i) {
      Job& job = jobs_[i];
      if (job.state != JobState::Waiting || job.readyAt > now) {
        continue;
      }
      moveTo(job, JobState::InFlight);
      job.download = std::make_unique<FileDownload>();
      FetchFailure failure;
      if (!job.download->start(state_, job.entry, job.entry, failure)) {
        job.download.reset();
        attemptFailed(job, failure);
        continue;
      }
      curl_easy_setopt(job.download->handle(), CURLOPT_PRIVATE, &job);
      if (!driver.add(job.download->handle())) {
        // No multi handle to be had: the file goes alone, the only way left.
        transferEnded({job.download->handle(), curl_easy_perform(job.download->handle())});
        continue;
      }
      ++started;
    }
  }

  // Judges a transfer that ended.
  void transferEnded(const TransferEnd& end) {
    Job* job = nullptr;
    curl_easy_getinfo(end.easy, CURLINFO_PRIVATE, &job);
    FetchFailure failure;
    const bool ok = job->download->finish(state_, end, failure);
    job->download.reset();  // a body that did not take its file's name goes with it
    if (ok) {
      arrived(*job);
    } else {
      attemptFailed(*job, failure);
    }
  }

  // A failed attempt: the fetcher's log lines and the worker's, a box when the gate allows
  // one (support/BoxGate.h), and the next try after the pause. No room on the disk, or a body
  // that the signed release disowns, ends the whole download instead.
  void attemptFailed(Job& job, const FetchFailure& failure) {
    moveTo(job, JobState::Waiting);
    if (failure.kind == FetchFailure::Kind::DiskFull ||
        failure.kind == FetchFailure::Kind::Refused) {
      if (!endingFailure_.has_value()) {
        endingFailure_ = failure;
      }
      return;
    }
    const std::string box = logFileFailure(failure);
    logLine(text::kFileFailed, job.entry.c_str());
    offerBoxes(boxKind(failure), box);
  }

  static BoxKind boxKind(const FetchFailure& failure) {
    switch (failure.kind) {
      case FetchFailure::Kind::Status:
        return BoxKind::Status;
      case FetchFailure::Kind::Mismatch:
        return BoxKind::Digest;
      case FetchFailure::Kind::Write:
        return BoxKind::Write;
      default:
        return BoxKind::Connection;
    }
  }

  // Every transfer stops and its temporary file goes, then the one report; the player's
  // files are as they were before the run.
  DownloadEnd stopForEndingFailure(TransferDriver& driver) {
    removeAll(driver);
    return reportEndingFailure();
  }

  DownloadEnd reportEndingFailure() {
    if (endingFailure_->kind == FetchFailure::Kind::Refused) {
      reportReleaseRefusal(endingFailure_->text);
      return DownloadEnd::Refused;
    }
    reportDiskFull(state_, *endingFailure_);
    return DownloadEnd::DiskFull;
  }

  void removeAll(TransferDriver& driver) {
    for (Job& job : jobs_) {
      if (job.download != nullptr) {
        driver.remove(job.download->handle());
        job.download.reset();
      }
    }
  }

  // Until the next retry is due, or the longest poll. A job that is due but found no room
  // starts when a transfer ends, which wakes the poll anyway.
  std::chrono::milliseconds pollWait() const {
    Clock::duration wait = kLongestPoll;
    const Clock::time_point now = Clock::now();
    for (const Job& job : jobs_) {
      if (job.state == JobState::Waiting && job.readyAt > now) {
        wait = std::min<Clock::duration>(wait, job.readyAt - now);
      }
    }
    return std::chrono::ceil<std::chrono::milliseconds>(wait);
  }

  void publishProgress() {
    double partial = 0;
    for (const Job& job : jobs_) {
      if (job.download != nullptr) {
        const std::uint64_t expected = job.download->expectedBytes();
        if (expected > 0) {
          partial += std::min(1.0, static_cast<double>(job.download->receivedBytes()) /
                                       static_cast<double>(expected));
        }
      }
    }
    const int permille = downloadProgressPermille(static_cast<int>(jobs_.size()),
                                                  static_cast<int>(count(JobState::Done)), partial);
    // A failed attempt starts its file again from nothing; the bar never moves back.
    int shown = state_.downloadProgress.load();
    while (permille > shown && !state_.downloadProgress.compare_exchange_weak(shown, permille)) {
    }
  }

  // A file is in place: its slot empties and it counts as done.
  void arrived(Job& job) {
    markVerified(state_, job.entry);
    state_.fileQueue[job.slot].clear();
    state_.pendingCount.fetch_sub(1);
    moveTo(job, JobState::Done);
  }

  InstallState& state_;
  const std::stop_token stop_;
  std::vector<Job> jobs_;
  std::optional<FetchFailure> endingFailure_;
};

}  // namespace

int downloadProgressPermille(int files, int filesDone, double partialFiles) {
  if (files <= 0 || filesDone >= files) {
    return 1000;
  }
  const double share = (filesDone + std::max(0.0, partialFiles)) / files;
  return std::clamp(static_cast<int>(share * 1000), 0, 999);
}

DownloadEnd downloadQueue(InstallState& state) {
  return DownloadRun(state, runContext().run.stopToken()).run();
}

}  // namespace vestrel
