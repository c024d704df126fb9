#include "update/net/Fetcher.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/Platform.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/RunContext.h"
#include "update/lists/ListRules.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/BodySink.h"
#include "update/net/DiskSpace.h"
#include "update/net/FetchOperation.h"
#include "update/net/FileServer.h"
#include "update/net/FileSink.h"
#include "update/net/ListBodyWriter.h"
#include "update/net/ProxyChoice.h"
#include "update/net/TransferDriver.h"

namespace vestrel {
namespace {

constexpr char kUserAgent[] = "VESTREL/1.0";

std::string systemReason(int error) {
  return std::error_code(error, std::generic_category()).message();
}

struct EasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using FileHandle = std::unique_ptr<std::FILE, FileClose>;

// The body's length as the server announced it; 0 while it is not known.
std::uint64_t announcedLength(CURL* curl) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length <= 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(length);
}

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* sink) {
  // A refused piece ends the transfer now, with libcurl's write error.
  return static_cast<BodySink*>(sink)->add(data, size * count) ? size * count : 0;
}

// One GET in progress: the handle, the open file and where the body goes.
struct Transfer {
  const FetchOperation* op = nullptr;
  std::string writePath;  // where the body is written (files: the temporary name)
  FileHandle file;
  // Declared after the file, so that they stop writing before the file is closed. A list's
  // body has the first, a listed file's the second.
  std::unique_ptr<ListBodyWriter> listBody;
  std::unique_ptr<FileSink> fileBody;
  // Declared after the file, so the handle is released first and the file closed after it.
  EasyHandle curl;
  std::string temporaryPath;  // files, until the body has taken its name

  BodySink& body() const {
    return listBody != nullptr ? static_cast<BodySink&>(*listBody) : *fileBody;
  }

  // A file's body that never took its file's name is removed, however the transfer ended.
  ~Transfer() {
    curl.reset();
    listBody.reset();
    fileBody.reset();
    file.reset();
    if (!temporaryPath.empty()) {
      std::error_code ignored;
      std::filesystem::remove(platform::toFsPath(temporaryPath), ignored);
    }
  }
};

// Makes the handle and opens the local file; the caller then gives the body its sink and sets
// the options. False with `failure` set when either cannot be had.
bool openTransfer(Transfer& t, const FetchOperation& op, const std::string& writePath,
                  FetchFailure& failure) {
  t.op = &op;
  t.curl.reset(curl_easy_init());
  if (t.curl == nullptr) {
    failure = {FetchFailure::Kind::Init, {}};
    return false;
  }
  t.writePath = writePath;
  t.file.reset(platform::openFile(writePath, "wb"));
  if (t.file == nullptr) {
    // Never hand libcurl a file that did not open: report it like any other failure.
    const std::string reason = systemReason(errno);
    failure = {FetchFailure::Kind::Other,
               systemText(text::kLocalFileFailed, writePath.c_str(), reason.c_str())};
    return false;
  }
  return true;
}

// Whether this libcurl can answer a proxy's demand for credentials with the player's own
// login (NTLM or Negotiate through the system's security package), as a browser would.
bool loginForProxies() {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  return (info->features & CURL_VERSION_SSPI) != 0 &&
         (info->features & (CURL_VERSION_NTLM | CURL_VERSION_SPNEGO)) != 0;
}

// The system's proxy, when the system chose one: a transfer told nothing follows libcurl's
// own rules instead. An empty proxy keeps libcurl from going through any.
void setProxyOptions(CURL* easy) {
  RunContext& context = runContext();
  const ProxyChoice& choice =
      context.net.proxy.choice(context.net.fileServer, context.run.stopToken());
  if (!choice.fromSystem) {
    return;
  }
  curl_easy_setopt(easy, CURLOPT_PROXY, choice.proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, choice.noProxy.c_str());
  static const bool withLogin = loginForProxies();
  if (!choice.proxy.empty() && withLogin) {
    // Empty credentials stand for the logged-in user's; they are offered only when the proxy
    // asks for them.
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH,
                     static_cast<long>(CURLAUTH_NEGOTIATE | CURLAUTH_NTLM));
    curl_easy_setopt(easy, CURLOPT_PROXYUSERPWD, ":");
  }
}

// Sets every option. The options go in the same order for every operation (the order matters
// neither to libcurl nor to the server); the CA bundle is added only when the build names
// one. The certificate check is set even though it is libcurl's default, so that no build
// of libcurl can quietly differ. There is no limit on a whole transfer: a large file on a
// slow link takes its time, and only a stall ends it.
void setOptions(Transfer& t, const std::string& url) {
  CURL* easy = t.curl.get();
  const NetContext& net = runContext().net;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, net.connectTimeoutSeconds);
  // Less than the minimum rate over the whole stall period is a server that went silent or
  // as good as silent.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kMinimumBytesPerSecond);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, net.stallSeconds);
  if (t.op->ipv4Only && !net.connection.overIpv4()) {
    curl_easy_setopt(easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
  }
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  if (caFile()[0] != '\0') {
    curl_easy_setopt(easy, CURLOPT_CAINFO, caFile());
  }
  if (net.connection.share() != nullptr) {
    curl_easy_setopt(easy, CURLOPT_SHARE, net.connection.share());
  }
  setProxyOptions(easy);
  // Several transfers to one host wait for a connection that can carry them side by side
  // (HTTP/2) rather than each opening its own.
  curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&t.body()));
}

// Judges a transfer that ended as `end` says. Success needs status 200 and a file that was
// flushed and closed without error: only then is the file whole on disk. A file's body that
// failed goes with its transfer, under its temporary name; the file it was to replace stays.
bool finishTransfer(Transfer& t, const TransferEnd& end, FetchFailure& failure) {
  const CURLcode result = end.result;
  long status = 0;
  curl_easy_getinfo(t.curl.get(), CURLINFO_RESPONSE_CODE, &status);
  long proxyStatus = 0;
  curl_easy_getinfo(t.curl.get(), CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
  if (result == CURLE_OK && end.multi == CURLM_OK) {
    runContext().net.connection.note(t.curl.get());
  }
  t.curl.reset();
  int sinkError = 0;
  const bool sunk = t.body().finish(sinkError);
  const bool flushed = std::fflush(t.file.get()) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(t.file.release()) == 0;
  const int closeError = errno;

  const bool written = sunk && flushed && closed;
  const int writeError = !sunk ? sinkError : !flushed ? flushError : closeError;
  const bool noRoom = t.fileBody != nullptr && t.fileBody->diskFull();
  if (end.multi != CURLM_OK) {
    failure = {FetchFailure::Kind::Other, curl_multi_strerror(end.multi)};
  } else if (t.listBody != nullptr && t.listBody->overLimit()) {
    failure = {FetchFailure::Kind::OverLimit, t.op->listName};
  } else if (noRoom || (t.fileBody != nullptr && !written && isNoSpaceError(writeError))) {
    // Only a file's caller stops the run for a full disk; a list that did not fit is a write
    // failure, reported like any other.
    failure = {FetchFailure::Kind::DiskFull, t.writePath, noRoom ? t.fileBody->shortBy() : 0};
  } else if (result != CURLE_OK && proxyStatus == 407) {
    RunContext& context = runContext();
    failure = {FetchFailure::Kind::ProxyLogin,
               context.net.proxy.choice(context.net.fileServer, {}).proxy};
  } else if (result == CURLE_SSL_CONNECT_ERROR) {
    failure = {FetchFailure::Kind::Ssl, {}};
  } else if (result != CURLE_OK) {
    failure = {FetchFailure::Kind::Other, curl_easy_strerror(result)};
  } else if (status != 200) {
    // The server answered, but not with the file: the report names its answer.
    failure = {FetchFailure::Kind::Status, "HTTP " + std::to_string(status), 0, status};
  } else if (!written) {
    const std::string reason = systemReason(writeError);
    failure = {FetchFailure::Kind::Write,
               systemText(text::kLocalFileWriteFailed, t.writePath.c_str(), reason.c_str())};
  } else {
    return true;
  }
  return false;
}

bool startList(Transfer& t, const FetchOperation& op, const std::string& localPath,
               FetchFailure& failure) {
  if (!openTransfer(t, op, localPath, failure)) {
    return false;
  }
  t.listBody = std::make_unique<ListBodyWriter>(t.file.get());
  setOptions(t, formatted("%s/launcher/.launcher/%s", fileServerBase().c_str(), op.listName));
  return true;
}

// Reports how a list's transfer ended: its success line naming `logPath`, or its failure. A
// status other than 200 is left unreported where `quietStatus` says so.
ListFetch reportList(const FetchOperation& op, bool received, const FetchFailure& failure,
                     const std::string& logPath, std::string* quietStatus) {
  if (!received) {
    if (quietStatus != nullptr && failure.kind == FetchFailure::Kind::Status) {
      *quietStatus = failure.text;
      return ListFetch::NotServed;
    }
    report(op, failure);
    return failure.kind == FetchFailure::Kind::OverLimit ? ListFetch::Refused : ListFetch::Failed;
  }
  logLine(text::kDownloaded, logPath.c_str());
  return ListFetch::Received;
}

// One list to fetch: what it is, where its body goes and what its success line names.
struct ListTransfer {
  const FetchOperation* op;
  const std::string* writePath;
  const std::string* logPath;
};

// Fetches the lists side by side on the run's connection, then reports them in order as if
// one came after the other: each one's success line or failure report, until the first that
// did not arrive; the lists after it are Failed and unreported. A run asked to stop meanwhile
// reports none: they are all Stopped.
std::vector<ListFetch> fetchLists(const std::vector<ListTransfer>& lists,
                                  std::string* quietStatus = nullptr) {
  const std::size_t count = lists.size();
  std::vector<Transfer> transfers(count);
  std::vector<FetchFailure> failures(count);
  std::vector<bool> started(count, false);
  std::vector<CURL*> handles;
  for (std::size_t i = 0; i < count; ++i) {
    started[i] = startList(transfers[i], *lists[i].op, *lists[i].writePath, failures[i]);
    if (started[i]) {
      handles.push_back(transfers[i].curl.get());
    }
  }
  std::vector<TransferEnd> ends;
  if (!runTransfers(handles, ends, runContext().run.stopToken())) {
    return std::vector<ListFetch>(count, ListFetch::Stopped);
  }
  std::vector<ListFetch> fetched(count, ListFetch::Failed);
  std::size_t end = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const bool received = started[i] && finishTransfer(transfers[i], ends[end++], failures[i]);
    fetched[i] = reportList(*lists[i].op, received, failures[i], *lists[i].logPath, quietStatus);
    if (fetched[i] != ListFetch::Received) {
      break;
    }
  }
  return fetched;
}

const FetchOperation& listFetch(ListKind kind) {
  switch (kind) {
    case ListKind::Folders:
      return kDirListFetch;
    case ListKind::Files:
      return kFileListFetch;
    case ListKind::Digests:
      break;
  }
  return kHashListFetch;
}

}  // namespace

ListFetch fetchListAs(ListKind kind, const std::string& writePath, const std::string& logPath) {
  return fetchLists({{&listFetch(kind), &writePath, &logPath}})[0];
}

ListFetch fetchListsAtOnce(const ListRequest& first, const ListRequest& second,
                           ListFetch& secondFetch) {
  const std::vector<ListFetch> fetched =
      fetchLists({{&listFetch(first.kind), &first.writePath, &first.logPath},
                  {&listFetch(second.kind), &second.writePath, &second.logPath}});
  secondFetch = fetched[1];
  return fetched[0];
}

ListFetch fetchReleaseFile(const std::string& writePath, const std::string& logPath,
                           std::string& statusText) {
  return fetchLists({{&kReleaseFetch, &writePath, &logPath}}, &statusText)[0];
}

ListFetch fetchDirList(const std::string& narrowLocalPath) {
  return fetchListAs(ListKind::Folders, narrowLocalPath, narrowLocalPath);
}

ListFetch fetchFileList(const std::string& narrowLocalPath) {
  return fetchListAs(ListKind::Files, narrowLocalPath, narrowLocalPath);
}

ListFetch fetchHashList(const std::string& narrowLocalPath) {
  return fetchListAs(ListKind::Digests, narrowLocalPath, narrowLocalPath);
}

std::string fileUrl(const std::string& relativeName) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = fileServerBase() + "/launcher/";
  for (const char c : relativeName) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                            byte == '_' || byte == '~' || byte == '/';
    if (unreserved) {
      url += c;
    } else {
      url += '%';
      url += kHex[byte >> 4];
      url += kHex[byte & 0x0F];
    }
  }
  return url;
}

struct FileDownload::Parts {
  Transfer transfer;
  std::string finalPath;  // the name the verified body takes
  std::string logName;
  const ReleasedFile* released = nullptr;  // what the signed release says of the file
};

FileDownload::FileDownload() : parts_(std::make_unique<Parts>()) {}
FileDownload::~FileDownload() = default;

bool FileDownload::start(const InstallState& state, const std::string& narrowLocalPath,
                         const std::string& narrowLogName, FetchFailure& failure) {
  failure = {};
  const std::string root = state.installRoot;
  // Queue entries always start with the install root; anything else is not ours to write.
  if (narrowLocalPath.empty() || narrowLocalPath.compare(0, root.size(), root) != 0) {
    return false;
  }
  const std::string relative = narrowLocalPath.substr(root.size());
  parts_->finalPath = root + std::string(storedFileLine(relative));
  parts_->logName = narrowLogName;
  Transfer& t = parts_->transfer;
  if (!openTransfer(t, kFileFetch, parts_->finalPath + kPartialSuffix, failure)) {
    return false;
  }
  t.temporaryPath = t.writePath;
  CURL* easy = t.curl.get();
  const ReleasedFile* released = parts_->released = releasedFile(state, narrowLocalPath);
  t.fileBody = std::make_unique<FileSink>(
      t.file.get(), FileSink::Budget{.disk = &runContext().net.disk,
                                     .folder = root,
                                     .announcedLength = [easy] { return announcedLength(easy); },
                                     .exactLength = released != nullptr ? released->size : 0,
                                     .sha256 = released != nullptr});
  setOptions(t, fileUrl(platform::narrowToUtf8(relative)));
  return true;
}

CURL* FileDownload::handle() const {
  return parts_->transfer.curl.get();
}

std::uint64_t FileDownload::receivedBytes() const {
  const FileSink* body = parts_->transfer.fileBody.get();
  return body != nullptr ? body->received() : 0;
}

std::uint64_t FileDownload::expectedBytes() const {
  CURL* curl = handle();
  return curl != nullptr ? announcedLength(curl) : 0;
}

bool FileDownload::finish(const InstallState& state, const TransferEnd& end,
                          FetchFailure& failure) {
  failure = {};
  Transfer& t = parts_->transfer;
  if (!finishTransfer(t, end, failure)) {
    if (t.fileBody->tooLong()) {
      failure = {FetchFailure::Kind::Refused,
                 systemText(text::kReleaseFileTooLong, parts_->finalPath.c_str())};
    }
    return false;
  }
  if (!bodyVouchedFor(state, failure)) {
    return false;
  }
  int error = 0;
  if (!platform::replaceFile(t.temporaryPath, parts_->finalPath, error)) {
    failure = isNoSpaceError(error)
                  ? FetchFailure{FetchFailure::Kind::DiskFull, parts_->finalPath, 0}
                  : FetchFailure{FetchFailure::Kind::Write,
                                 systemText(text::kLocalFileWriteFailed, parts_->finalPath.c_str(),
                                            systemReason(error).c_str())};
    return false;
  }
  t.temporaryPath.clear();
  logLine(text::kDownloaded, parts_->logName.c_str());
  return true;
}

// Bytes that nothing vouches for are never kept, let alone started; the file they were meant
// to replace stays as it was. With a signed release the body must be its own file's, byte
// for byte; without, any listed digest vouches for it.
bool FileDownload::bodyVouchedFor(const InstallState& state, FetchFailure& failure) {
  FileSink& body = *parts_->transfer.fileBody;
  const ReleasedFile* released = parts_->released;
  if (released == nullptr
          ? digestListed(state, body.digest())
          : body.received() == released->size && body.sha256Digest() == released->sha256 &&
                body.digest() == released->md5) {
    return true;
  }
  failure = released == nullptr
                ? FetchFailure{FetchFailure::Kind::Mismatch, parts_->finalPath}
                : FetchFailure{FetchFailure::Kind::Refused,
                               systemText(text::kReleaseFileMismatch, parts_->finalPath.c_str())};
  return false;
}

bool fetchFile(const InstallState& state, const std::string& narrowLocalPath,
               const std::string& narrowLogName) {
  FileDownload download;
  FetchFailure failure;
  std::vector<TransferEnd> ends;
  bool ok = download.start(state, narrowLocalPath, narrowLogName, failure);
  if (ok && !runTransfers({download.handle()}, ends, runContext().run.stopToken())) {
    return false;  // stopped: nothing to report
  }
  ok = ok && download.finish(state, ends[0], failure);
  if (!ok && failure.kind == FetchFailure::Kind::DiskFull) {
    reportDiskFull(state, failure);
  } else if (!ok && failure.kind == FetchFailure::Kind::Refused) {
    reportReleaseRefusal(failure.text);
  } else if (!ok) {
    reportFileFailure(failure);
  }
  return ok;
}

bool serverMultiplexes() {
  return runContext().net.connection.multiplexes();
}

}  // namespace vestrel
