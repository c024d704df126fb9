// A listed file's download, in steps, so that many can be driven at once
// (update/net/ParallelDownloads.h).
//
// The file is fetched from its address on the server (update/net/FileServer.h); the server's
// root-level "launcher.exe" is saved as "launcher_new.exe" so that a running launcher is never
// overwritten. The body goes to a temporary file beside the file (kPartialSuffix) and is
// hashed as it is written; only after a 200, a good close and a listed digest does it take the
// file's name, replacing the old file in one step. Otherwise the temporary file goes, the file
// as it was stays, and the download fails with a FetchFailure (update/net/FetchReport.h) for
// the caller to report, later and on another thread if it likes. No body grows past
// kMaxFileBytes or into the disk reserve (update/net/DiskSpace.h): that fails as DiskFull.
#pragma once

#include <curl/curl.h>

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

  // Progress of the running transfer: bytes written so far, and the length the server gave
  // (0 while unknown).
  std::uint64_t receivedBytes() const;
  std::uint64_t expectedBytes() const;

  // After a finish that returned true: where the file now is (launcher.exe's is
  // launcher_new.exe) and its MD5 digest.
  const std::string& placedPath() const;
  std::string placedDigest() const;

 private:
  struct Parts;
  bool bodyVouchedFor(const InstallState& state, FetchFailure& failure);
  std::unique_ptr<Parts> parts_;
};

}  // namespace vestrel
