// A listed file's download, in steps, so that many can be driven at once
// (update/net/ParallelDownloads.h).
//
// The file is fetched from its address on the server (update/net/FileServer.h); the server's
// root-level "launcher.exe" is saved as "launcher_new.exe" so that a running launcher is never
// overwritten. The body goes to a temporary file beside the file (kPartialSuffix) and is
// hashed as it is written; only after a 200, a good close and a listed digest does it take the
// file's name, replacing the old file in one step. Otherwise the file as it was stays, and the
// download fails with a FetchFailure (update/net/FetchReport.h) for the caller to report,
// later and on another thread if it likes. No body grows past kMaxFileBytes or into the disk
// reserve (update/net/DiskSpace.h): that fails as DiskFull.
//
// A download cut off by the link, or stopped with the run, keeps its temporary file as a part
// to resume (update/net/ResumablePart.h) when the server named the file's version; the next
// attempt, in this run or the next, hashes the part again and asks only for the rest (a 206).
// Any other failure removes it. A resumed download that cannot go on (the server answers the
// whole file or 416, or the finished body is not the listed one) removes its part and fails
// as StartOver: the caller fetches the file again whole, at once, before anything counts
// against it.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "update/net/FetchReport.h"
#include "update/net/TransferDriver.h"

namespace vestrel {

struct InstallState;

class FileDownload {
 public:
  FileDownload();
  ~FileDownload();
  FileDownload(const FileDownload&) = delete;
  FileDownload& operator=(const FileDownload&) = delete;

  // Prepares the transfer of the queue entry `localPath` (the install folder followed by the
  // file's list line): the handle, the local file and every option; `logName` is what the
  // success line will name. False when there is nothing to transfer; `failure` says why (None:
  // the path is not the installer's to write).
  bool start(const InstallState& state, const std::string& localPath, const std::string& logName,
             FetchFailure& failure);
  // The easy handle to perform, or to add to a multi handle, between start and finish.
  CURL* handle() const;
  // Judges the ended transfer: releases the handle, closes and checks the file, logs the
  // success line. False with `failure` set when the file does not count.
  bool finish(const InstallState& state, const TransferEnd& end, FetchFailure& failure);

  // Progress of the running transfer: bytes written so far (with those of a part taken up),
  // those taken up from a part, and the whole file's length as the server gave it (0 while
  // unknown).
  std::uint64_t receivedBytes() const;
  std::uint64_t keptBytes() const;
  std::uint64_t expectedBytes() const;

  // The run is stopping: a part that can be resumed stays for the next run.
  void keepPart();

  // After a finish that returned true: where the file now is (launcher.exe's is
  // launcher_new.exe) and its MD5 digest.
  const std::string& placedPath() const;
  std::string placedDigest() const;

 private:
  struct Parts;
  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* parts);
  bool openPart(FetchFailure& failure);
  bool failed(FetchFailure& failure);
  bool bodyVouchedFor(const InstallState& state, FetchFailure& failure);
  std::unique_ptr<Parts> parts_;
};

}  // namespace vestrel
