// One listed file on its way down (update/net/ParallelDownloads.cpp): where it stands, the
// attempt in flight, and when it may be tried again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "update/net/ChunkedDownload.h"
#include "update/net/FileDownload.h"
#include "update/net/ParallelDownloads.h"

namespace vestrel {

// Where a file stands. A job changes state only through the download run's moveTo, which keeps the
// counts and the short lists of jobs in flight and of jobs waiting to try again: a release of
// tens of thousands of files must not be looked through whole at every turn of the loop.
enum class JobState {
  Waiting,   // may be started once readyAt has come
  InFlight,  // its transfer is in the multi handle
  Done,      // verified and in place
};

struct DownloadJob {
  std::size_t slot = 0;
  std::string entry;
  bool sized = false;      // its length is known:
  std::uint64_t size = 0;  // the release's, the server's, or what arrived
  JobState state = JobState::Waiting;
  std::unique_ptr<FileDownload> download;           // while in flight, fetched whole
  std::unique_ptr<ChunkedDownload> chunked;         // or fetched as the chunks it lacks
  bool planned = false;                             // its chunks to fetch are counted
  std::chrono::steady_clock::time_point readyAt{};  // when it may start (again)
  std::chrono::milliseconds nextDelay = kFirstRetryDelay;
  bool startedOver = false;    // its part was given up once: the next give-up pauses
  std::size_t hostsTried = 0;  // hosts that failed it since its last pause
};

}  // namespace vestrel
