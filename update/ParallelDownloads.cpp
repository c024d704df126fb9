#include "update/ParallelDownloads.h"

#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/Fetcher.h"
#include "update/InstallState.h"

namespace vestrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long the loop sleeps at most when nothing wakes it, so that the end of the run is seen.
constexpr std::chrono::milliseconds kLongestPoll{100};

struct Job {
  std::size_t slot = 0;
  std::string entry;
  std::unique_ptr<FileDownload> download;  // while in flight
  Clock::time_point readyAt{};             // when it may start (again)
  std::chrono::milliseconds nextDelay = kFirstRetryDelay;
  bool waiting = true;  // may be started once readyAt has come

  // After a failed attempt has been reported: the pause before the next, growing each time.
  void retryAfterPause() {
    readyAt = Clock::now() + nextDelay;
    nextDelay = std::min(nextDelay * 2, kLongestRetryDelay);
    waiting = true;
  }
};

// The download worker's own report of a failed attempt, after the fetcher's.
void reportFailedAttempt(const std::string& entry) {
  showError(platform::narrowText(text::kRepositoryFailedBox));
  logLine(text::kFileFailed, entry.c_str());
}

// Shows failure reports one at a time, on its own thread, and hands each file back once its
// report has been dismissed.
class Reporter {
 public:
  explicit Reporter(CURLM* multi) : multi_(multi), thread_([this] { run(); }) {}

  ~Reporter() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    // A box may still be up when the run ends early; the process ends with it.
    if (ending_) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

  void post(std::size_t job, std::string entry, FetchFailure failure) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back({job, std::move(entry), std::move(failure)});
    }
    wake_.notify_all();
  }

  // The jobs whose reports were dismissed since the last call.
  std::vector<std::size_t> takeReported() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::size_t> out;
    out.swap(reported_);
    return out;
  }

  void runEnding() { ending_ = true; }

 private:
  struct Report {
    std::size_t job;
    std::string entry;
    FetchFailure failure;
  };

  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) {
        return;
      }
      Report report = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      reportFileFailure(report.failure);
      reportFailedAttempt(report.entry);
      lock.lock();
      reported_.push_back(report.job);
      curl_multi_wakeup(multi_);
    }
  }

  CURLM* multi_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Report> queue_;
  std::vector<std::size_t> reported_;
  bool stop_ = false;
  bool ending_ = false;
  std::thread thread_;  // last: it starts once everything above exists
};

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

class DownloadRun {
 public:
  explicit DownloadRun(InstallState& state) : state_(state) {
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

  bool run() {
    const std::unique_ptr<CURLM, MultiCleanup> multi(curl_multi_init());
    if (multi == nullptr) {
      return runOneAtATime();
    }
    curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS,
                      static_cast<long>(kParallelTransfers));
    Reporter reporter(multi.get());
    std::size_t inFlight = 0;
    for (;;) {
      if (state_.busy == 0) {
        reporter.runEnding();
        removeAll(multi.get());
        return false;
      }
      for (const std::size_t job : reporter.takeReported()) {
        jobs_[job].retryAfterPause();
      }
      inFlight += startReady(multi.get(), reporter, kParallelTransfers - inFlight);
      if (doneCount_ == jobs_.size()) {
        publishProgress();
        return true;
      }
      int running = 0;
      curl_multi_perform(multi.get(), &running);
      const std::size_t finished = collectFinished(multi.get(), reporter);
      inFlight -= finished;
      publishProgress();
      if (finished == 0) {
        curl_multi_poll(multi.get(), nullptr, 0, pollMilliseconds(), nullptr);
      }
      // Otherwise straight round again: a finished transfer's place is taken at once, over the
      // connection it leaves idle, instead of after the next wake-up.
    }
  }

 private:
  // Starts waiting jobs whose time has come, up to `room` of them. Returns how many went in
  // flight; a job that cannot even start is reported like a failed download.
  std::size_t startReady(CURLM* multi, Reporter& reporter, std::size_t room) {
    std::size_t started = 0;
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < jobs_.size() && started < room; ++i) {
      Job& job = jobs_[i];
      if (!job.waiting || job.readyAt > now) {
        continue;
      }
      job.waiting = false;
      job.download = std::make_unique<FileDownload>();
      FetchFailure failure;
      if (!job.download->start(state_, job.entry, job.entry, failure)) {
        job.download.reset();
        reporter.post(i, job.entry, std::move(failure));
        continue;
      }
      curl_easy_setopt(job.download->handle(), CURLOPT_PRIVATE, &job);
      curl_multi_add_handle(multi, job.download->handle());
      ++started;
    }
    return started;
  }

  // Judges every transfer that ended. Returns how many left the air.
  std::size_t collectFinished(CURLM* multi, Reporter& reporter) {
    std::size_t finished = 0;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg != CURLMSG_DONE) {
        continue;
      }
      CURL* easy = message->easy_handle;
      const CURLcode result = message->data.result;
      Job* job = nullptr;
      curl_easy_getinfo(easy, CURLINFO_PRIVATE, &job);
      curl_multi_remove_handle(multi, easy);
      ++finished;
      FetchFailure failure;
      if (job->download->finish(state_, result, failure)) {
        arrived(*job);
      } else {
        reporter.post(static_cast<std::size_t>(job - jobs_.data()), job->entry, std::move(failure));
      }
      job->download.reset();
    }
    return finished;
  }

  void removeAll(CURLM* multi) {
    for (Job& job : jobs_) {
      if (job.download != nullptr) {
        curl_multi_remove_handle(multi, job.download->handle());
        job.download.reset();
      }
    }
  }

  // Until the next retry is due, or the longest poll. A job that is due but found no room
  // starts when a transfer ends, which wakes the poll anyway.
  int pollMilliseconds() const {
    Clock::duration wait = kLongestPoll;
    const Clock::time_point now = Clock::now();
    for (const Job& job : jobs_) {
      if (job.waiting && job.readyAt > now) {
        wait = std::min<Clock::duration>(wait, job.readyAt - now);
      }
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
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
                                                  static_cast<int>(doneCount_), partial);
    // A failed attempt starts its file again from nothing; the bar never moves back.
    int shown = state_.downloadProgress.load();
    while (permille > shown && !state_.downloadProgress.compare_exchange_weak(shown, permille)) {
    }
  }

  // A file is in place: its slot empties and it counts as done.
  void arrived(const Job& job) {
    state_.fileQueue[job.slot].clear();
    state_.pendingCount.fetch_sub(1);
    ++doneCount_;
  }

  // Without a multi handle the files still come, one blocking transfer at a time (the
  // fetcher makes its own report of each failure).
  bool runOneAtATime() {
    for (Job& job : jobs_) {
      while (!fetchFile(state_, job.entry, job.entry)) {
        reportFailedAttempt(job.entry);
        if (state_.busy == 0) {
          return false;
        }
        job.retryAfterPause();
        std::this_thread::sleep_until(job.readyAt);
      }
      arrived(job);
      publishProgress();
    }
    return true;
  }

  InstallState& state_;
  std::vector<Job> jobs_;
  std::size_t doneCount_ = 0;
};

}  // namespace

int downloadProgressPermille(int files, int filesDone, double partialFiles) {
  if (files <= 0 || filesDone >= files) {
    return 1000;
  }
  const double share = (filesDone + std::max(0.0, partialFiles)) / files;
  return std::clamp(static_cast<int>(share * 1000), 0, 999);
}

bool downloadQueue(InstallState& state) {
  return DownloadRun(state).run();
}

}  // namespace vestrel
