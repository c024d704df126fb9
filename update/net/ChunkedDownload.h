// A listed file that the signed release serves as chunks too (update/chunks/ChunkIndex.h),
// brought up to date by fetching only the chunks the player lacks.
//
// Its index comes first, checked against the release. The part beside the file (as for a
// whole download, kPartialSuffix) is laid out as the file will be: each chunk at its offset.
// A part an interrupted run left (its sidecar names the index) keeps every chunk that still
// hashes to its name; the old file at that path gives every chunk the verification pass found
// in it (InstallState::heldChunks); the rest are fetched, up to 32 at once within the run's
// transfers, each unpacked as it arrives (update/net/ChunkBody.h), then checked against its
// name and written by threads of their own (update/net/ChunkWriter.h). Once every chunk is
// in, the whole part, whose size is the
// index's, must have the release's MD5, and takes the file's name (its SHA-256 is the sum of
// the chunks' checks against the index the release names).
//
// A chunk or an index that is not what it is named by is a digest failure of the file: the
// part goes, and the file is tried once more from nothing (StartOver), then the release is
// refused (Refused). A failed transfer keeps the part for the next attempt.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "update/net/FetchReport.h"
#include "update/net/TransferDriver.h"

namespace vestrel {

struct InstallState;
struct ReleasedFile;

class ChunkedDownload {
 public:
  enum class Step { Going, Done, Failed };

  // The queue entry `entry`, which the release names as `released`; `lastChance`: a digest
  // failure now refuses the release.
  ChunkedDownload(InstallState& state, std::string entry, const ReleasedFile& released,
                  bool lastChance);
  ~ChunkedDownload();
  ChunkedDownload(const ChunkedDownload&) = delete;
  ChunkedDownload& operator=(const ChunkedDownload&) = delete;

  // The next transfer to hand to the driver, or null when none is due now (the index is still
  // on its way, or every missing chunk is asked for). Null with `failure` set when the file
  // cannot go on.
  CURL* next(FetchFailure& failure);
  // One of its transfers ended.
  Step ended(const TransferEnd& end, FetchFailure& failure);
  // Its transfers still in flight, for the caller to take out of the driver.
  std::vector<CURL*> inFlight() const;
  // The run is stopping: a part that can be gone on from stays for the next run.
  void keepPart();

  // Bytes of the file to be fetched (once the index is in) and fetched so far.
  std::uint64_t toFetch() const;
  std::uint64_t fetched() const;
  const std::string& placedPath() const;
  std::string placedDigest() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace vestrel
