// One GET from the file server, from its handle to the judgement of how it ended: the local
// file its body streams into, every option (limits, the CA, the run's shared connection and
// the system's proxy), and what counts as a failure and of which kind.
//
// Only https is spoken, on the request and on every redirect (at most kMaxRedirects; another
// https host is fine, since what is kept is decided by the digest). A connection that is not
// up within the run's connect limit, or a transfer that receives too little for its stall
// limit (update/net/NetContext.h), fails like any other error. The transfer itself is driven
// by update/net/TransferDriver.h.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "support/FileHandle.h"
#include "update/net/BodySink.h"
#include "update/net/FetchOperation.h"
#include "update/net/FetchReport.h"
#include "update/net/FileSink.h"
#include "update/net/ListBodyWriter.h"
#include "update/net/MemoryBody.h"
#include "update/net/TransferDriver.h"

namespace vestrel {

struct EasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeaderListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

// One GET in progress: the handle, the open file and where the body goes.
struct Transfer {
  const FetchOperation* op = nullptr;
  std::string writePath;  // where the body is written (files: the temporary name)
  FileHandle file;
  // Declared after the file, so that they stop writing before the file is closed. A list's
  // body has the first, a listed file's the second.
  std::unique_ptr<ListBodyWriter> listBody;
  std::unique_ptr<FileSink> fileBody;
  // Or a body kept in memory, with no file: an index (MemoryBody), a chunk (ChunkBody).
  std::unique_ptr<BodySink> memoryBody;
  // Headers the request adds; they must outlive the handle that sends them.
  HeaderList requestHeaders;
  // Declared after the file, so the handle is released first and the file closed after it.
  EasyHandle curl;
  std::string temporaryPath;  // files, until the body has taken its name
  // Reaches the host over IPv4 only (the operation's rule, or its company's: transfers that
  // go side by side on one connection must agree on the address family).
  bool ipv4Only = false;
  // Only the rest of the file was asked for: a 206 is the answer that counts, not a 200.
  bool rangeAsked = false;
  // The host asked (update/net/FileHosts.h): the run's current one when the options were set.
  std::size_t host = 0;

  Transfer() = default;
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  // A file's body that never took its file's name is removed, however the transfer ended.
  ~Transfer();

  BodySink& body() const;
};

// Makes the handle and opens the local file (`mode` as fopen takes it); the caller then gives
// the body its sink and sets the options. False with `failure` set when either cannot be had.
bool openTransfer(Transfer& t, const FetchOperation& op, const std::string& writePath,
                  FetchFailure& failure, const char* mode = "wb");

// Sets every option for a GET of `url` whose body goes to the transfer's sink.
void setTransferOptions(Transfer& t, const std::string& url);

// Judges a transfer that ended as `end` says. Success needs status 200 (206 to a range) and
// a file that was flushed and closed without error: only then is the file whole on disk.
// A failure that is the host's counts against it, and may move the run to the next host (the
// log says so when there are several). Releases the handle.
bool finishTransfer(Transfer& t, const TransferEnd& end, FetchFailure& failure);

// The body's length as the server announced it; 0 while it is not known.
std::uint64_t announcedLength(CURL* curl);

}  // namespace vestrel
