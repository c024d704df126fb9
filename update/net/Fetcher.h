// Every transfer from the file server: the three lists and single listed files.
//
// Each transfer is one HTTPS GET whose body streams straight into a local file. It succeeds
// only when the transfer completes with status 200 and the file was closed without error. On
// failure the problem is reported (log lines, a help page opened in the browser, the error
// box); the caller decides whether to retry or give up. The blocking calls may be made from
// any thread and block until the transfer ends and, on failure, until the box is dismissed.
//
// Only https is spoken, on the request and on every redirect (at most kMaxRedirects; another
// https host is fine, since what is kept is decided by the digest). A connection that is not
// up within the run's connect limit, or a transfer that receives too little for its stall
// limit (update/net/NetContext.h), fails like any other error. All transfers of a run share
// one cache of connections and TLS sessions, so the lists and the files ride on connections
// that are already open. Every transfer ends soon after the run is asked to stop; what it
// fetched then is dropped without a report.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "update/lists/ListRules.h"
#include "update/net/FetchReport.h"
#include "update/net/NetContext.h"
#include "update/net/TransferDriver.h"

namespace vestrel {

struct InstallState;

// How a list fetch ended. Refused: the body passed the list size limit, the transfer was cut
// off, and the refusal has been reported (the caller takes its refusal path). NotServed: the
// release file only; the server answered, but not with it, and nothing has been reported.
// Stopped: the run was asked to stop first; nothing has been reported.
enum class ListFetch { Received, Failed, Refused, NotServed, Stopped };

ListFetch fetchDirList(const std::string& narrowLocalPath);
ListFetch fetchFileList(const std::string& narrowLocalPath);
ListFetch fetchHashList(const std::string& narrowLocalPath);
// A list saved under another name (a temporary one, until it has been checked); the success
// line names `narrowLogPath`.
ListFetch fetchListAs(ListKind kind, const std::string& narrowWritePath,
                      const std::string& narrowLogPath);
// Two lists at once, side by side on the connection that the folder list left open. Reported
// as if fetched one after the other: the first's success line or failure report, then, only
// when the first arrived, the second's; otherwise the second is Failed, unreported, and
// whatever of it was written is the caller's to remove.
struct ListRequest {
  ListKind kind;
  std::string writePath;
  std::string logPath;
};
ListFetch fetchListsAtOnce(const ListRequest& first, const ListRequest& second,
                           ListFetch& secondFetch);
// The signed release file (update/lists/ReleaseFile.h), like a list; a status other than 200
// is NotServed, with the status ("HTTP 404") in `statusText`.
ListFetch fetchReleaseFile(const std::string& narrowWritePath, const std::string& narrowLogPath,
                           std::string& statusText);

// A listed file. `narrowLocalPath` is the state's install root followed by the file's list
// line; `narrowLogName` is what the success line names. The server's root-level
// "launcher.exe" is saved as "launcher_new.exe" so that a running launcher is never
// overwritten. The body goes to a temporary file beside the file (kPartialSuffix) and is
// hashed as it is written; only after a 200, a good close and a listed digest does it take
// the file's name, replacing the old file in one step. Otherwise the temporary file goes,
// the file as it was stays, and the result is false (a mismatch is logged without a box:
// the caller's failure report follows). No body grows past kMaxFileBytes or into the disk
// reserve (update/net/DiskSpace.h): that fails as DiskFull.
bool fetchFile(const InstallState& state, const std::string& narrowLocalPath,
               const std::string& narrowLogName);

// ---- A file download in steps, for driving many at once ---------------------------------

// A failed download is kept as a FetchFailure (update/net/FetchReport.h), so that it can be
// reported later, on another thread.

class FileDownload {
 public:
  FileDownload();
  ~FileDownload();
  FileDownload(const FileDownload&) = delete;
  FileDownload& operator=(const FileDownload&) = delete;

  // Prepares the transfer of the queue entry `narrowLocalPath`: the handle, the local file
  // and every option; `narrowLogName` is what the success line will name. False when there
  // is nothing to transfer; `failure` says why.
  bool start(const InstallState& state, const std::string& narrowLocalPath,
             const std::string& narrowLogName, FetchFailure& failure);
  // The easy handle to perform, or to add to a multi handle, between start and finish.
  CURL* handle() const;
  // Judges the ended transfer: releases the handle, closes and checks the file, logs the
  // success line. False with `failure` set when the file does not count.
  bool finish(const InstallState& state, const TransferEnd& end, FetchFailure& failure);

  // Progress of the running transfer: bytes written so far, and the length the server gave
  // (0 while unknown).
  std::uint64_t receivedBytes() const;
  std::uint64_t expectedBytes() const;

 private:
  struct Parts;
  bool bodyVouchedFor(const InstallState& state, FetchFailure& failure);
  std::unique_ptr<Parts> parts_;
};

// The server address of a listed file, from its relative name in UTF-8 (the server names its
// files so): every byte outside the unreserved characters and '/' is percent-encoded, so any
// name reaches the server as named.
std::string fileUrl(const std::string& relativeName);

// Whether the server's last answer came over a connection that carries many transfers side by
// side (HTTP/2 or later); false until a transfer has ended.
bool serverMultiplexes();

}  // namespace vestrel
