#include "update/Fetcher.h"

#include <curl/curl.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/HelpLinks.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/FileServer.h"
#include "update/InstallState.h"
#include "update/ListRefusal.h"
#include "update/ListRules.h"
#include "update/Md5.h"

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

void sslReport(const Operation& op) {
  logLine(op.sslErrorLine);
  logLine(text::kSslHint);
  openSslHelpLink();
  showError(platform::narrowText(text::kSslErrorBox));
}

void otherReport(const Operation& op, const std::string& errorText) {
  logLine(op.otherErrorLine, errorText.c_str());
  logLine(text::kGeneralHint);
  openGeneralHelpLink();
  showError(systemText(text::kOtherErrorBox, errorText.c_str()));
}

void initReport() {
  // The log names the SSL guide while the browser and the box point to the general one.
  logLine(text::kCurlInitError);
  logLine(text::kSslHint);
  openGeneralHelpLink();
  showError(platform::narrowText(text::kCurlInitErrorBox));
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

// An easy handle, or the initialisation report and an empty owner.
EasyHandle newHandle() {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    initReport();
    // curl_easy_cleanup accepts a null handle and does nothing with it; the call stays so that
    // a failed start releases the handle the same way every other path out of a fetch does.
    curl_easy_cleanup(curl);
  }
  return EasyHandle(curl);
}

// Where a body goes while it arrives.
struct Sink {
  std::FILE* file = nullptr;
  Md5* md5 = nullptr;     // files: hashed as written, so the check needs no second read
  std::size_t limit = 0;  // lists: the most bytes accepted (0: no limit)
  std::size_t received = 0;
  bool overLimit = false;
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* userData) {
  Sink& sink = *static_cast<Sink*>(userData);
  const std::size_t bytes = size * count;
  if (sink.limit != 0 && bytes > sink.limit - sink.received) {
    sink.overLimit = true;
    return 0;  // ends the transfer now, with libcurl's write error
  }
  sink.received += bytes;
  const std::size_t written = std::fwrite(data, 1, bytes, sink.file);
  if (sink.md5 != nullptr) {
    sink.md5->add(data, written);
  }
  return written;
}

enum class Outcome { Ok, Failed, OverLimit };

// One GET of `url` into `writePath`. The options go in the same order for every operation (the
// order matters neither to libcurl nor to the server); the CA bundle is added only when the
// build names one. Success needs status 200 and a file that was flushed and closed without
// error: only then is the file whole on disk.
Outcome transfer(const Operation& op, EasyHandle&& handle, const std::string& writePath,
                 const std::string& url, const std::string& logName, Md5* md5) {
  FileHandle file(platform::openFile(writePath, "wb"));
  // Declared after the file, so the handle is released first and the file closed after it.
  EasyHandle curl = std::move(handle);
  if (file == nullptr) {
    // Never hand libcurl a file that did not open: report it like any other failure.
    const std::string reason = systemReason(errno);
    otherReport(op, systemText(text::kLocalFileFailed, writePath.c_str(), reason.c_str()));
    return Outcome::Failed;
  }

  Sink sink;
  sink.file = file.get();
  sink.md5 = md5;
  sink.limit = op.listName != nullptr ? kMaxListBytes : 0;

  CURL* easy = curl.get();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 0L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, g_connectTimeout.load());
  // Less than one byte a second over the whole stall period is a server that went silent.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
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
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);

  const CURLcode result = curl_easy_perform(easy);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl.reset();

  // Whatever arrived stays on disk; a failed attempt leaves an empty or partial file.
  const bool flushed = std::fflush(file.get()) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(file.release()) == 0;
  const int closeError = errno;

  if (sink.overLimit) {
    reportOversizedList(op.listName);
    return Outcome::OverLimit;
  }
  if (result == CURLE_SSL_CONNECT_ERROR) {
    sslReport(op);
    return Outcome::Failed;
  }
  if (result != CURLE_OK || status != 200) {
    // A status other than 200 is reported with the text of the (successful) result code.
    otherReport(op, curl_easy_strerror(result));
    return Outcome::Failed;
  }
  if (!flushed || !closed) {
    const std::string reason = systemReason(!flushed ? flushError : closeError);
    otherReport(op, systemText(text::kLocalFileWriteFailed, writePath.c_str(), reason.c_str()));
    return Outcome::Failed;
  }
  if (md5 == nullptr) {
    logLine(text::kDownloaded, logName.c_str());
  }
  return Outcome::Ok;
}

ListFetch fetchList(const Operation& op, const std::string& localPath) {
  EasyHandle curl = newHandle();
  if (curl == nullptr) {
    return ListFetch::Failed;
  }
  const std::string url =
      formatted("%s/launcher/.launcher/%s", fileServerBase().c_str(), op.listName);
  switch (transfer(op, std::move(curl), localPath, url, localPath, nullptr)) {
    case Outcome::Ok:
      return ListFetch::Received;
    case Outcome::OverLimit:
      return ListFetch::Refused;
    case Outcome::Failed:
      break;
  }
  return ListFetch::Failed;
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

bool fetchFile(const InstallState& state, const std::string& narrowLocalPath,
               const std::string& narrowLogName) {
  EasyHandle curl = newHandle();
  if (curl == nullptr) {
    return false;
  }
  const std::string root = state.installRoot;
  // Queue entries always start with the install root; anything else is not ours to write.
  if (narrowLocalPath.empty() || narrowLocalPath.compare(0, root.size(), root) != 0) {
    return false;
  }
  const std::string relative = narrowLocalPath.substr(root.size());
  const std::string writePath =
      relative == "launcher.exe" ? root + "launcher_new.exe" : narrowLocalPath;
  Md5 md5;
  if (transfer(kFile, std::move(curl), writePath, fileUrl(relative), narrowLogName, &md5) !=
      Outcome::Ok) {
    return false;
  }
  // Bytes that no listed digest vouches for are never kept, let alone started.
  if (!digestListed(state, md5.finishText())) {
    std::error_code ignored;
    std::filesystem::remove(platform::toFsPath(writePath), ignored);
    logLine(text::kDownloadMismatch, writePath.c_str());
    return false;
  }
  logLine(text::kDownloaded, narrowLogName.c_str());
  return true;
}

void setTransferLimitsForTesting(long connectTimeoutSeconds, long stallSeconds) {
  g_connectTimeout = connectTimeoutSeconds > 0 ? connectTimeoutSeconds : kConnectTimeoutSeconds;
  g_stallSeconds = stallSeconds > 0 ? stallSeconds : kStallSeconds;
}

}  // namespace vestrel
