#include "update/Fetcher.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/HelpLinks.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/DiskSpace.h"
#include "update/FileServer.h"
#include "update/FileSink.h"
#include "update/InstallState.h"
#include "update/ListRefusal.h"
#include "update/ListRules.h"

namespace vestrel {
namespace {

constexpr char kUserAgent[] = "VESTREL/1.0";

std::atomic<long> g_connectTimeout{kConnectTimeoutSeconds};
std::atomic<long> g_stallSeconds{kStallSeconds};

// What differs between the four operations.
struct Operation {
  const char* sslErrorLine;
  const char* otherErrorLine;
  bool ipv4Only;
  bool quiet;
  const char* listName;  // the lists only: their bodies are bounded
};

constexpr Operation kDirList{text::kDirListSslError, text::kDirListOtherError, false, false,
                             "udirs.lists"};
constexpr Operation kFileList{text::kFileListSslError, text::kFileListOtherError, true, false,
                              "ufile.lists"};
constexpr Operation kHashList{text::kHashListSslError, text::kHashListOtherError, false, false,
                              "uhash.lists"};
constexpr Operation kFile{text::kFileSslError, text::kFileOtherError, false, true, nullptr};

// Each report logs its lines and opens its help link, and returns its box's text.
std::string sslReport(const Operation& op) {
  logLine(op.sslErrorLine);
  logLine(text::kSslHint);
  openSslHelpLink();
  return platform::narrowText(text::kSslErrorBox);
}

std::string otherReport(const Operation& op, const std::string& errorText) {
  logLine(op.otherErrorLine, errorText.c_str());
  logLine(text::kGeneralHint);
  openGeneralHelpLink();
  return systemText(text::kOtherErrorBox, errorText.c_str());
}

std::string initReport() {
  // The log names the SSL guide while the browser and the box point to the general one.
  logLine(text::kCurlInitError);
  logLine(text::kSslHint);
  openGeneralHelpLink();
  return platform::narrowText(text::kCurlInitErrorBox);
}

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

// An easy handle, or an empty owner (the caller reports it).
EasyHandle newHandle() {
  return EasyHandle(curl_easy_init());
}

// Where a body goes while it arrives.
struct Sink {
  std::FILE* file = nullptr;
  FileSink* fileSink = nullptr;  // files: written and hashed, see update/FileSink.h
  std::size_t limit = 0;         // lists: the most bytes accepted (0: no limit)
  std::uint64_t received = 0;
  bool overLimit = false;
  // Files: the disk budget (update/DiskSpace.h) taken so far, and what was missing.
  CURL* curl = nullptr;
  std::string folder;
  std::uint64_t covered = 0;
  bool diskFull = false;
  bool lengthKnown = false;   // the server announced the body's length
  std::uint64_t shortBy = 0;  // 0 when not known
};

constexpr std::uint64_t kBudgetStep = 1 << 20;

// Makes sure the file's first `total` bytes fit: within kMaxFileBytes and the disk budget.
bool cover(Sink& sink, std::uint64_t total) {
  if (total > kMaxFileBytes) {
    sink.diskFull = true;
    sink.shortBy = sink.lengthKnown ? total : 0;
    return false;
  }
  if (total <= sink.covered) {
    return true;
  }
  // Taken a step ahead, so that the shared budget is not asked for every block.
  const std::uint64_t step = std::max(total - sink.covered, kBudgetStep);
  std::uint64_t shortBy = 0;
  if (takeDiskSpace(sink.folder, step, shortBy)) {
    sink.covered += step;
    return true;
  }
  if (takeDiskSpace(sink.folder, total - sink.covered, shortBy)) {
    sink.covered = total;
    return true;
  }
  // Without an announced length only the next few blocks are known, not what the file needs.
  sink.diskFull = true;
  sink.shortBy = sink.lengthKnown ? shortBy : 0;
  return false;
}

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* userData) {
  Sink& sink = *static_cast<Sink*>(userData);
  const std::size_t bytes = size * count;
  if (sink.limit != 0 && bytes > sink.limit - sink.received) {
    sink.overLimit = true;
    return 0;  // ends the transfer now, with libcurl's write error
  }
  if (sink.fileSink != nullptr) {
    // A length the server announces that cannot fit fails before the first byte is written.
    curl_off_t length = -1;
    if (sink.received == 0 &&
        curl_easy_getinfo(sink.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0) {
      sink.lengthKnown = true;
      if (!cover(sink, static_cast<std::uint64_t>(length))) {
        return 0;
      }
    }
    if (!cover(sink, sink.received + bytes)) {
      return 0;
    }
  }
  sink.received += bytes;
  if (sink.fileSink != nullptr) {
    // A failed write ends the transfer with libcurl's write error, as a short write does.
    return sink.fileSink->add(data, bytes) ? bytes : 0;
  }
  return std::fwrite(data, 1, bytes, sink.file);
}

// The connection, TLS-session and name cache that every transfer of the run shares, so that
// a transfer finds a connection its predecessor left open instead of paying for a new TCP
// and TLS handshake. It lives until the process ends.
class SharedCache {
 public:
  SharedCache() : share_(curl_share_init()) {
    if (share_ == nullptr) {
      return;  // transfers then simply do without it
    }
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedCache::lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedCache::unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }
  ~SharedCache() { curl_share_cleanup(share_); }
  CURLSH* get() const { return share_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedCache*>(self)->locks_[static_cast<std::size_t>(data)].lock();
  }
  static void unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedCache*>(self)->locks_[static_cast<std::size_t>(data)].unlock();
  }

  CURLSH* share_;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
};

std::mutex g_cacheLock;
SharedCache* g_cache = nullptr;

CURLSH* sharedCache() {
  // Made after the first easy handle, which is what initialises libcurl; in the program it is
  // never destroyed, as transfers on other threads may use it until the process ends.
  const std::lock_guard<std::mutex> lock(g_cacheLock);
  if (g_cache == nullptr) {
    g_cache = new SharedCache();
  }
  return g_cache->get();
}

// One GET in progress: the handle, the open file and where the body goes.
struct Transfer {
  const Operation* op = nullptr;
  std::string writePath;  // where the body is written (files: the temporary name)
  Sink sink;
  FileHandle file;
  // Declared after the file, so that it stops writing before the file is closed.
  std::unique_ptr<FileSink> fileSink;
  // Declared after the file, so the handle is released first and the file closed after it.
  EasyHandle curl;

  // A file's body that never took its file's name is removed, however the transfer ended.
  ~Transfer() {
    curl.reset();
    fileSink.reset();
    file.reset();
    if (!temporaryPath.empty()) {
      std::error_code ignored;
      std::filesystem::remove(platform::toFsPath(temporaryPath), ignored);
    }
    if (sink.covered > sink.received) {
      returnDiskSpace(sink.covered - sink.received);
    }
  }
  std::string temporaryPath;  // files, until the body has taken its name
};

// Opens the local file and sets every option. The options go in the same order for every
// operation (the order matters neither to libcurl nor to the server); the CA bundle is added
// only when the build names one.
bool openTransfer(Transfer& t, const Operation& op, EasyHandle&& handle, const std::string& url,
                  const std::string& writePath, bool hashed, FetchFailure& failure) {
  t.op = &op;
  t.writePath = writePath;
  t.file.reset(platform::openFile(writePath, "wb"));
  t.curl = std::move(handle);
  if (t.file == nullptr) {
    // Never hand libcurl a file that did not open: report it like any other failure.
    const std::string reason = systemReason(errno);
    failure = {FetchFailure::Kind::Other,
               systemText(text::kLocalFileFailed, writePath.c_str(), reason.c_str())};
    return false;
  }
  t.sink.file = t.file.get();
  if (hashed) {
    t.temporaryPath = writePath;
    t.fileSink = std::make_unique<FileSink>(t.file.get());
    t.sink.fileSink = t.fileSink.get();
    t.sink.curl = t.curl.get();
  }
  t.sink.limit = op.listName != nullptr ? kMaxListBytes : 0;

  CURL* easy = t.curl.get();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 0L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, g_connectTimeout.load());
  // Less than the minimum rate over the whole stall period is a server that went silent or
  // as good as silent.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kMinimumBytesPerSecond);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, g_stallSeconds.load());
  if (op.ipv4Only) {
    curl_easy_setopt(easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
  }
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  if (caFile()[0] != '\0') {
    curl_easy_setopt(easy, CURLOPT_CAINFO, caFile());
  }
  if (op.quiet) {
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 0L);
  }
  curl_easy_setopt(easy, CURLOPT_SHARE, sharedCache());
  // Several transfers to one host wait for a connection that can carry them side by side
  // (HTTP/2) rather than each opening its own.
  curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t.sink);
  return true;
}

// Judges a transfer that ended with `result`. Success needs status 200 and a file that was
// flushed and closed without error: only then is the file whole on disk. A file's body that
// failed goes with its transfer, under its temporary name; the file it was to replace stays.
bool finishTransfer(Transfer& t, CURLcode result, FetchFailure& failure) {
  long status = 0;
  curl_easy_getinfo(t.curl.get(), CURLINFO_RESPONSE_CODE, &status);
  t.curl.reset();
  int sinkError = 0;
  const bool sunk = t.fileSink == nullptr || t.fileSink->finish(sinkError);
  const bool flushed = std::fflush(t.file.get()) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(t.file.release()) == 0;
  const int closeError = errno;

  const int writeError = !sunk ? sinkError : !flushed ? flushError : closeError;
  if (t.sink.overLimit) {
    failure = {FetchFailure::Kind::OverLimit, t.op->listName};
  } else if (t.sink.diskFull || ((!sunk || !flushed || !closed) && isNoSpaceError(writeError))) {
    failure = {FetchFailure::Kind::DiskFull, t.writePath, t.sink.shortBy};
  } else if (result == CURLE_SSL_CONNECT_ERROR) {
    failure = {FetchFailure::Kind::Ssl, {}};
  } else if (result != CURLE_OK) {
    failure = {FetchFailure::Kind::Other, curl_easy_strerror(result)};
  } else if (status != 200) {
    // A status other than 200 is reported with the text of the (successful) result code.
    failure = {FetchFailure::Kind::Status, curl_easy_strerror(result)};
  } else if (!sunk || !flushed || !closed) {
    const std::string reason = systemReason(writeError);
    failure = {FetchFailure::Kind::Write,
               systemText(text::kLocalFileWriteFailed, t.writePath.c_str(), reason.c_str())};
  } else {
    return true;
  }
  return false;
}

// Logs a failure and opens its help link; returns the text of its box (empty: none).
std::string logReport(const Operation& op, const FetchFailure& failure) {
  switch (failure.kind) {
    case FetchFailure::Kind::None:
    case FetchFailure::Kind::DiskFull:  // the caller's own report
      break;
    case FetchFailure::Kind::Init:
      return initReport();
    case FetchFailure::Kind::Ssl:
      return sslReport(op);
    case FetchFailure::Kind::Other:
    case FetchFailure::Kind::Status:
    case FetchFailure::Kind::Write:
      return otherReport(op, failure.text);
    case FetchFailure::Kind::OverLimit:
      reportOversizedList(op.listName);
      break;
    case FetchFailure::Kind::Mismatch:
      logLine(text::kDownloadMismatch, failure.text.c_str());
      break;
  }
  return {};
}

void report(const Operation& op, const FetchFailure& failure) {
  const std::string box = logReport(op, failure);
  if (!box.empty()) {
    showError(box);
  }
}

ListFetch fetchList(const Operation& op, const std::string& localPath) {
  EasyHandle curl = newHandle();
  if (curl == nullptr) {
    report(op, {FetchFailure::Kind::Init, {}});
    return ListFetch::Failed;
  }
  const std::string url =
      formatted("%s/launcher/.launcher/%s", fileServerBase().c_str(), op.listName);
  Transfer t;
  FetchFailure failure;
  if (!openTransfer(t, op, std::move(curl), url, localPath, false, failure) ||
      !finishTransfer(t, curl_easy_perform(t.curl.get()), failure)) {
    report(op, failure);
    return failure.kind == FetchFailure::Kind::OverLimit ? ListFetch::Refused : ListFetch::Failed;
  }
  logLine(text::kDownloaded, localPath.c_str());
  return ListFetch::Received;
}

}  // namespace

ListFetch fetchDirList(const std::string& narrowLocalPath) {
  return fetchList(kDirList, narrowLocalPath);
}

ListFetch fetchFileList(const std::string& narrowLocalPath) {
  return fetchList(kFileList, narrowLocalPath);
}

ListFetch fetchHashList(const std::string& narrowLocalPath) {
  return fetchList(kHashList, narrowLocalPath);
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
};

FileDownload::FileDownload() : parts_(std::make_unique<Parts>()) {}
FileDownload::~FileDownload() = default;

bool FileDownload::start(const InstallState& state, const std::string& narrowLocalPath,
                         const std::string& narrowLogName, FetchFailure& failure) {
  failure = {};
  EasyHandle curl = newHandle();
  if (curl == nullptr) {
    failure.kind = FetchFailure::Kind::Init;
    return false;
  }
  const std::string root = state.installRoot;
  // Queue entries always start with the install root; anything else is not ours to write.
  if (narrowLocalPath.empty() || narrowLocalPath.compare(0, root.size(), root) != 0) {
    return false;
  }
  const std::string relative = narrowLocalPath.substr(root.size());
  parts_->finalPath = root + std::string(storedFileLine(relative));
  parts_->logName = narrowLogName;
  parts_->transfer.sink.folder = root;
  return openTransfer(parts_->transfer, kFile, std::move(curl),
                      fileUrl(platform::narrowToUtf8(relative)), parts_->finalPath + kPartialSuffix,
                      true, failure);
}

CURL* FileDownload::handle() const {
  return parts_->transfer.curl.get();
}

std::uint64_t FileDownload::receivedBytes() const {
  return parts_->transfer.sink.received;
}

std::uint64_t FileDownload::expectedBytes() const {
  curl_off_t length = -1;
  CURL* curl = handle();
  if (curl == nullptr ||
      curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length <= 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(length);
}

bool FileDownload::finish(const InstallState& state, CURLcode result, FetchFailure& failure) {
  failure = {};
  Transfer& t = parts_->transfer;
  if (!finishTransfer(t, result, failure)) {
    return false;
  }
  // Bytes that no listed digest vouches for are never kept, let alone started; the file they
  // were meant to replace stays as it was.
  if (!digestListed(state, t.fileSink->digest())) {
    failure = {FetchFailure::Kind::Mismatch, parts_->finalPath};
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

void reportFileFailure(const FetchFailure& failure) {
  report(kFile, failure);
}

std::string logFileFailure(const FetchFailure& failure) {
  return logReport(kFile, failure);
}

void reportDiskFull(const InstallState& state, const FetchFailure& failure) {
  const std::string folder = state.installRoot;
  const double megabytes = static_cast<double>(failure.shortBy) / (1024.0 * 1024.0);
  if (failure.shortBy > 0) {
    logMessage(systemText(text::kDiskFull, failure.text.c_str(), folder.c_str(), megabytes));
    showError(systemText(text::kDiskFullBox, folder.c_str(), megabytes));
  } else {
    logMessage(systemText(text::kDiskFullUnknown, failure.text.c_str(), folder.c_str()));
    showError(systemText(text::kDiskFullUnknownBox, folder.c_str()));
  }
}

bool fetchFile(const InstallState& state, const std::string& narrowLocalPath,
               const std::string& narrowLogName) {
  FileDownload download;
  FetchFailure failure;
  const bool ok = download.start(state, narrowLocalPath, narrowLogName, failure) &&
                  download.finish(state, curl_easy_perform(download.handle()), failure);
  if (!ok && failure.kind == FetchFailure::Kind::DiskFull) {
    reportDiskFull(state, failure);
  } else if (!ok) {
    reportFileFailure(failure);
  }
  return ok;
}

void forgetSharedConnections() {
  const std::lock_guard<std::mutex> lock(g_cacheLock);
  delete g_cache;
  g_cache = nullptr;
}

void setTransferLimitsForTesting(long connectTimeoutSeconds, long stallSeconds) {
  g_connectTimeout = connectTimeoutSeconds > 0 ? connectTimeoutSeconds : kConnectTimeoutSeconds;
  g_stallSeconds = stallSeconds > 0 ? stallSeconds : kStallSeconds;
}

}  // namespace vestrel
