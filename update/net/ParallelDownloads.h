// The download worker's work: every queued file, several transfers at a time.
//
// Up to kParallelTransfers files are in flight at once on the worker's thread, each on its own
// connection, while the server speaks HTTP/1.1; once it answers over HTTP/2, up to
// kMultiplexedTransfers share its connection as streams (never more than the server allows on
// one connection: libcurl holds the rest back, or opens another). Connections are reused from
// file to file; one that the server closes (after so many requests, or refusing a stream)
// costs a reconnect, not a failed file.
// Each file is handled exactly as a single download would be: the same address and local
// name, the digest check, the success line. A file that fails is reported (the fetcher's
// report, then the worker's box and log line), waits kFirstRetryDelay, doubling up to
// kLongestRetryDelay, and is tried again, without limit, while the other files go on; a file
// cut off goes on from its part (update/net/FileDownload.h), and a stopped run leaves its
// parts for the next.
// Boxes go through support/BoxGate.h: one at a time, on a thread of their own, so a box that
// waits for the player holds up nothing. A disk that has no room for a file ends the whole
// download.
#pragma once

#include <chrono>
#include <cstdint>

namespace vestrel {

struct InstallState;

inline constexpr int kParallelTransfers = 6;
inline constexpr int kMultiplexedTransfers = 128;
inline constexpr std::chrono::milliseconds kFirstRetryDelay{1000};
inline constexpr std::chrono::milliseconds kLongestRetryDelay{30000};

enum class DownloadEnd {
  Complete,  // the queue is empty
  Stopped,   // the run was asked to stop first (update/Run.h)
  DiskFull,  // no room: every transfer stopped and the disk-full report was made
  Refused,   // a body was not what the signed release says: stopped likewise, and reported
};

// Downloads every non-empty slot of the queue (highest slot first), emptying each slot and
// counting pendingCount down as its file arrives, and keeps the state's progress current: in
// bytes, where a file's length is the signed release's, else the one its server gives as its
// transfer starts, and a file not yet started counts at the average length known so far.
DownloadEnd downloadQueue(InstallState& state);

}  // namespace vestrel
