#include "update/net/ParallelDownloads.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <stop_token>
#include <string>
#include <vector>

#include "support/BoxGate.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/RunContext.h"
#include "update/VerifiedRecord.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/DownloadJob.h"
#include "update/net/DownloadMeter.h"
#include "update/net/FetchReport.h"
#include "update/net/FileHosts.h"
#include "update/net/FileServer.h"
#include "update/net/TransferDriver.h"

namespace vestrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long the loop sleeps at most when nothing wakes it, so that the end of the run is seen.
constexpr std::chrono::milliseconds kLongestPoll{100};
// Below this many known lengths, their average is no estimate of the lengths still to come.
constexpr std::size_t kFewLengths = 32;

class DownloadRun {
 public:
  DownloadRun(InstallState& state, std::stop_token stop) : state_(state), stop_(std::move(stop)) {
    // Highest slot first, as the files have always been taken.
    for (std::size_t slot = state.fileQueue.size(); slot-- > 0;) {
      if (!state.fileQueue[slot].empty()) {
        DownloadJob job;
        job.slot = slot;
        job.entry = state.fileQueue[slot];
        jobs_.push_back(std::move(job));
        if (const ReleasedFile* released = releasedFile(state, jobs_.back().entry)) {
          sizeKnown(jobs_.back(), released->size);
        }
      }
    }
  }

  DownloadEnd run() {
    TransferDriver driver(stop_);
    driver_ = &driver;
    driver.allowStreams(kMultiplexedTransfers, kParallelTransfers);
    for (;;) {
      if (driver.stopped()) {
        removeAll(driver, true);  // their parts stay for the next run
        return DownloadEnd::Stopped;
      }
      // The lists' answers say which the server speaks; every finished file says it again.
      const std::size_t limit =
          runContext().net.connection.multiplexes() ? kMultiplexedTransfers : kParallelTransfers;
      startReady(driver, limit - std::min(limit, driver.running()));
      if (endingFailure_.has_value()) {
        return stopForEndingFailure(driver);
      }
      if (done_ == jobs_.size()) {
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
  void moveTo(DownloadJob& job, JobState next) {
    if (job.state == JobState::InFlight) {
      std::erase(flying_, &job);
    }
    if (next == JobState::InFlight) {
      flying_.push_back(&job);
      std::erase(retrying_, &job);
    } else if (next == JobState::Waiting && job.state == JobState::InFlight) {
      // Anywhere between no pause and the whole back-off: installers that failed together
      // on a crowded server do not come back together.
      job.readyAt = Clock::now() + jittered(job.nextDelay, random_());
      job.nextDelay = std::min(job.nextDelay * 2, kLongestRetryDelay);
      retrying_.push_back(&job);
    } else if (next == JobState::Done) {
      ++done_;
    }
    job.state = next;
  }

  // The next job to start: one whose retry is due before any not yet tried, as when the
  // files were taken in queue order. Null when none may start now.
  DownloadJob* nextReady(Clock::time_point now) {
    for (DownloadJob* job : retrying_) {
      if (job->readyAt <= now) {
        return job;
      }
    }
    return untried_ < jobs_.size() ? &jobs_[untried_++] : nullptr;
  }

  // Starts waiting jobs whose time has come, up to `room` of them; a job that cannot even
  // start is reported like a failed download.
  void startReady(TransferDriver& driver, std::size_t room) {
    const Clock::time_point now = Clock::now();
    // While every host rests, nothing new is asked of any.
    Clock::time_point back;
    if (fileHosts().pick(now, back) == kNoHost) {
      hostsBack_ = back;
      return;
    }
    hostsBack_ = {};
    std::size_t started = 0;
    // The chunks of files under way come before new files.
    const std::vector<DownloadJob*> underWay = flying_;  // a job may end meanwhile
    for (DownloadJob* job : underWay) {
      started += startChunks(driver, *job, room - started);
    }
    while (started < room) {
      DownloadJob* const next = nextReady(now);
      if (next == nullptr) {
        break;
      }
      DownloadJob& job = *next;
      moveTo(job, JobState::InFlight);
      const ReleasedFile* released = releasedFile(state_, job.entry);
      if (released != nullptr && !released->indexSha256.empty()) {
        job.chunked =
            std::make_unique<ChunkedDownload>(state_, job.entry, *released, job.startedOver);
        started += startChunks(driver, job, room - started);
        continue;
      }
      job.download = std::make_unique<FileDownload>();
      FetchFailure failure;
      if (!job.download->start(state_, job.entry, job.entry, failure)) {
        job.download.reset();
        attemptFailed(job, failure);
        continue;
      }
      started += hand(driver, job, job.download->handle()) ? 1 : 0;
    }
  }

  // Hands a chunked job's next transfers to the driver while there is room; returns how many
  // it took. A job that cannot go on fails its attempt.
  std::size_t startChunks(TransferDriver& driver, DownloadJob& job, std::size_t room) {
    std::size_t started = 0;
    while (job.chunked != nullptr && started < room) {
      FetchFailure failure;
      CURL* easy = job.chunked->next(failure);
      if (easy == nullptr) {
        if (failure.kind != FetchFailure::Kind::None) {
          chunkedFailed(job, failure);
        }
        break;
      }
      started += hand(driver, job, easy) ? 1 : 0;
    }
    return started;
  }

  // Hands a job's transfer to the driver; false when it went alone.
  bool hand(TransferDriver& driver, DownloadJob& job, CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &job);
    if (!driver.add(easy)) {
      // No multi handle to be had: the transfer goes alone, the only way left.
      transferEnded({easy, curl_easy_perform(easy)});
      return false;
    }
    return true;
  }

  // A chunked file's attempt failed: its other transfers stop, and it goes the way of any
  // failed attempt.
  void chunkedFailed(DownloadJob& job, const FetchFailure& failure) {
    dropChunks(*driver_, job, false);
    attemptFailed(job, failure);
  }

  // A chunked file's transfers leave the driver, and its part stays when `keepPart`.
  static void dropChunks(TransferDriver& driver, DownloadJob& job, bool keepPart) {
    for (CURL* easy : job.chunked->inFlight()) {
      driver.remove(easy);
    }
    if (keepPart) {
      job.chunked->keepPart();
    }
    job.chunked.reset();
  }

  void chunkedEnded(DownloadJob& job, const TransferEnd& end) {
    FetchFailure failure;
    switch (job.chunked->ended(end, failure)) {
      case ChunkedDownload::Step::Going:
        return;
      case ChunkedDownload::Step::Failed:
        chunkedFailed(job, failure);
        return;
      case ChunkedDownload::Step::Done:
        break;
    }
    plan(job);
    doneBytes_ += job.chunked->fetched();
    wireBytes_ += job.chunked->fetched();
    noteVerified(state_, job.entry, job.chunked->placedDigest());
    job.chunked.reset();
    arrived(job);
  }

  // Once its index is in, a chunked file (sized by the release) counts by the bytes it has
  // to fetch.
  void plan(DownloadJob& job) {
    if (!job.planned && job.chunked != nullptr && job.chunked->toFetch() > 0) {
      job.planned = true;
      knownBytes_ = knownBytes_ - job.size + job.chunked->toFetch();
      job.size = job.chunked->toFetch();
    }
  }

  // Judges a transfer that ended.
  void transferEnded(const TransferEnd& end) {
    DownloadJob* job = nullptr;
    curl_easy_getinfo(end.easy, CURLINFO_PRIVATE, &job);
    if (job->chunked != nullptr) {
      chunkedEnded(*job, end);
      return;
    }
    if (job->download == nullptr) {
      return;  // a transfer of an attempt already given up
    }
    FetchFailure failure;
    const bool ok = job->download->finish(state_, end, failure);
    wireBytes_ += job->download->receivedBytes() - job->download->keptBytes();
    if (ok) {
      const std::uint64_t received = job->download->receivedBytes();
      sizeKnown(*job, received);  // a length no one gave is what arrived
      doneBytes_ += received;
      if (job->download->placedPath() == job->entry) {
        noteVerified(state_, job->entry, job->download->placedDigest());
      }
    }
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
  void attemptFailed(DownloadJob& job, const FetchFailure& failure) {
    const std::chrono::milliseconds delay = job.nextDelay;
    moveTo(job, JobState::Waiting);
    if (failure.kind == FetchFailure::Kind::StartOver) {
      // A part that could not be gone on from is gone: the whole file comes at once, with no
      // word to the player, unless that too has just happened to this file.
      if (!job.startedOver) {
        job.startedOver = true;
        job.readyAt = Clock::now();
        job.nextDelay = delay;
      }
      return;
    }
    if (failure.kind == FetchFailure::Kind::DiskFull ||
        failure.kind == FetchFailure::Kind::Refused) {
      if (!endingFailure_.has_value()) {
        endingFailure_ = failure;
      }
      return;
    }
    if (failure.hostsFault && retryOnAnotherHost(failure, job.hostsTried, job.readyAt)) {
      job.nextDelay = delay;  // no longer a back-off for a host's failure
      return;
    }
    job.hostsTried = 0;
    const std::string box = logFileFailure(failure);
    logLine(text::kFileFailed, job.entry.c_str());
    offerBoxes(boxKindOf(failure), box);
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

  void removeAll(TransferDriver& driver, bool keepParts = false) {
    for (DownloadJob* job : flying_) {
      if (job->chunked != nullptr) {
        dropChunks(driver, *job, keepParts);
      }
      if (job->download != nullptr) {
        driver.remove(job->download->handle());
        if (keepParts) {
          job->download->keepPart();
        }
        job->download.reset();
      }
    }
  }

  // Until the next retry is due, or the longest poll. A job that is due but found no room
  // starts when a transfer ends, which wakes the poll anyway.
  std::chrono::milliseconds pollWait() const {
    Clock::duration wait = kLongestPoll;
    const Clock::time_point now = Clock::now();
    if (hostsBack_ > now) {
      wait = std::min<Clock::duration>(wait, hostsBack_ - now);
    }
    for (const DownloadJob* job : retrying_) {
      if (job->readyAt > now) {
        wait = std::min<Clock::duration>(wait, job->readyAt - now);
      }
    }
    return std::chrono::ceil<std::chrono::milliseconds>(wait);
  }

  void sizeKnown(DownloadJob& job, std::uint64_t size) {
    if (!job.sized) {
      job.sized = true;
      job.size = size;
      knownBytes_ += size;
      ++knownFiles_;
    }
  }

  void publishProgress() {
    std::uint64_t fetched = doneBytes_;
    std::uint64_t overTheWire = wireBytes_;
    bool unsizedInFlight = false;
    for (DownloadJob* job : flying_) {
      if (job->chunked != nullptr) {
        plan(*job);
        fetched += job->chunked->fetched();
        overTheWire += job->chunked->fetched();
      }
      if (job->download != nullptr) {
        if (const std::uint64_t announced = job->download->expectedBytes(); announced > 0) {
          sizeKnown(*job, announced);
        }
        fetched += job->download->receivedBytes();
        overTheWire += job->download->receivedBytes() - job->download->keptBytes();
        unsizedInFlight = unsizedInFlight || !job->sized;
      }
    }
    const std::uint64_t expected =
        std::max(fetched, expectedBytes(knownBytes_, knownFiles_, jobs_.size() - knownFiles_));
    const Clock::time_point now = Clock::now();
    // The speed is the link's: bytes a part already held are no faster for being counted.
    meter_.sample(overTheWire, now);
    state_.bytesToFetch = expected;
    state_.bytesFetched = fetched;
    state_.bytesPerSecond = meter_.bytesPerSecond();
    state_.secondsLeft = meter_.secondsLeft(expected - fetched);
    // While only a few lengths are known, a file whose length is still to come may be far
    // larger than their average: the bar, which never moves back, waits for it rather than
    // run ahead.
    if (unsizedInFlight && knownFiles_ < kFewLengths && done_ < jobs_.size()) {
      return;
    }
    const int permille = downloadProgressPermille(expected, fetched, done_ == jobs_.size());
    // A failed attempt's bytes count again only once its next attempt has taken up its part;
    // the bar never moves back meanwhile.
    int shown = state_.downloadProgress.load();
    while (permille > shown && !state_.downloadProgress.compare_exchange_weak(shown, permille)) {
    }
  }

  // A file is in place: its slot empties and it counts as done.
  void arrived(DownloadJob& job) {
    markVerified(state_, job.entry);
    state_.fileQueue[job.slot].clear();
    state_.pendingCount.fetch_sub(1);
    moveTo(job, JobState::Done);
  }

  InstallState& state_;
  const std::stop_token stop_;
  std::vector<DownloadJob> jobs_;  // never grows once made: the lists below point into it
  std::size_t untried_ = 0;        // jobs_ from here on have never been started
  std::size_t done_ = 0;
  std::vector<DownloadJob*> flying_;    // in flight: at most as many as transfers are allowed
  std::vector<DownloadJob*> retrying_;  // waiting after a failed attempt
  std::uint64_t knownBytes_ = 0;        // the lengths of the jobs whose length is known
  std::size_t knownFiles_ = 0;
  std::uint64_t doneBytes_ = 0;
  std::uint64_t wireBytes_ = 0;  // received over the link by transfers that ended
  SpeedMeter meter_;
  std::optional<FetchFailure> endingFailure_;
  TransferDriver* driver_ = nullptr;  // while run() drives the transfers
  Clock::time_point hostsBack_{};     // while every host rests: when the first is back
  std::mt19937_64 random_{std::random_device{}()};
};

}  // namespace

DownloadEnd downloadQueue(InstallState& state) {
  return DownloadRun(state, runContext().run.stopToken()).run();
}

}  // namespace vestrel
