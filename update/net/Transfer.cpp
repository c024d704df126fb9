#include "update/net/Transfer.h"

#include <cerrno>
#include <chrono>
#include <optional>

#include "platform/Platform.h"
#include "support/FormatText.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/RunContext.h"
#include "update/net/DiskSpace.h"
#include "update/net/FileHosts.h"
#include "update/net/FileServer.h"
#include "update/net/ProxyChoice.h"

namespace vestrel {
namespace {

constexpr char kUserAgent[] = "VESTREL/1.0";

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* sink) {
  // A refused piece ends the transfer now, with libcurl's write error.
  return static_cast<BodySink*>(sink)->add(data, size * count) ? size * count : 0;
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

// How long a busy host asked to be left alone, when it did.
std::optional<std::chrono::seconds> askedWait(CURL* easy, long status) {
  curl_header* header = nullptr;
  if ((status != 429 && status != 503) ||
      curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
    return std::nullopt;
  }
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return parseRetryAfter(header->value,
                         std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

// Whether a failed transfer says something of its host: it could not be reached or spoken to
// (not a fault of this side's: its file, its memory, its own decision to stop), it answered
// that it is busy or broken, or it lacks a file the lists name.
bool hostsFault(const Transfer& t, CURLcode result, long status) {
  switch (result) {
    case CURLE_OK:
    case CURLE_HTTP_RETURNED_ERROR:
      return status >= 500 || status == 429 || status == 408 ||
             (status == 404 && t.op == &kFileFetch);
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_FAILED_INIT:
    case CURLE_BAD_FUNCTION_ARGUMENT:
      return false;
    default:
      return true;
  }
}

// The host's failure counts against it; with mirrors, the log names it and the host the run
// goes on to.
void countAgainstHost(const FetchFailure& failure, const char* why) {
  FileHosts& hosts = fileHosts();
  const bool moved = hosts.failed(failure.host, std::chrono::steady_clock::now(), failure.hostWait);
  if (hosts.count() > 1) {
    logLine(text::kHostFailed, hostBase(failure.host).c_str(), why);
    if (moved) {
      logLine(text::kHostChanged, hostBase(hosts.current()).c_str());
    }
  }
}

}  // namespace

// The body's length as the server announced it; 0 while it is not known.
std::uint64_t announcedLength(CURL* curl) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length <= 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(length);
}

Transfer::~Transfer() {
  curl.reset();
  listBody.reset();
  fileBody.reset();
  memoryBody.reset();
  file.reset();
  if (!temporaryPath.empty()) {
    removeIfPresent(temporaryPath);
  }
}

BodySink& Transfer::body() const {
  if (listBody != nullptr) {
    return *listBody;
  }
  return memoryBody != nullptr ? *memoryBody : static_cast<BodySink&>(*fileBody);
}

// Makes the handle and opens the local file; the caller then gives the body its sink and sets
// the options. False with `failure` set when either cannot be had.
bool openTransfer(Transfer& t, const FetchOperation& op, const std::string& writePath,
                  FetchFailure& failure, const char* mode) {
  t.op = &op;
  t.ipv4Only = op.ipv4Only;
  t.curl.reset(curl_easy_init());
  if (t.curl == nullptr) {
    failure = {FetchFailure::Kind::Init, {}};
    return false;
  }
  t.writePath = writePath;
  t.file.reset(platform::openFile(writePath, mode));
  if (t.file == nullptr) {
    // Never hand libcurl a file that did not open: report it like any other failure.
    const std::string reason = systemReason(errno);
    failure = {FetchFailure::Kind::Other,
               systemText(text::kLocalFileFailed, writePath.c_str(), reason.c_str())};
    return false;
  }
  return true;
}

// Sets every option. The options go in the same order for every operation (the order matters
// neither to libcurl nor to the server); the CA bundle is added only when the build names
// one. The certificate check is set even though it is libcurl's default, so that no build
// of libcurl can quietly differ. There is no limit on a whole transfer: a large file on a
// slow link takes its time, and only a stall ends it.
void setTransferOptions(Transfer& t, const std::string& url) {
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
  if (t.ipv4Only && !net.connection.overIpv4()) {
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
  // An answer that is an error has no body to take: an error page must never be written
  // where a file goes, nor be judged against the file's size.
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&t.body()));
  t.host = fileHosts().lastAsked();  // the host whose address `url` was made from
}

// Judges a transfer that ended as `end` says. Success needs status 200 (206 to a range) and a
// file that was flushed and closed without error: only then is the file whole on disk. A
// file's body that failed goes with its transfer, under its temporary name (unless its
// download keeps it to resume); the file it was to replace stays.
bool finishTransfer(Transfer& t, const TransferEnd& end, FetchFailure& failure) {
  const CURLcode result = end.result;
  long status = 0;
  curl_easy_getinfo(t.curl.get(), CURLINFO_RESPONSE_CODE, &status);
  const std::optional<std::chrono::seconds> wait = askedWait(t.curl.get(), status);
  long proxyStatus = 0;
  curl_easy_getinfo(t.curl.get(), CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
  if (result == CURLE_OK && end.multi == CURLM_OK) {
    runContext().net.connection.note(t.curl.get());
  }
  t.curl.reset();
  int sinkError = 0;
  const bool sunk = t.body().finish(sinkError);
  const bool flushed = t.file == nullptr || std::fflush(t.file.get()) == 0;
  const int flushError = errno;
  const bool closed = t.file == nullptr || std::fclose(t.file.release()) == 0;
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
  } else if (result == CURLE_HTTP_RETURNED_ERROR) {
    failure = {FetchFailure::Kind::Status, "HTTP " + std::to_string(status), 0, status};
  } else if (result == CURLE_SSL_CONNECT_ERROR) {
    failure = {FetchFailure::Kind::Ssl, {}};
  } else if (result != CURLE_OK) {
    failure = {FetchFailure::Kind::Other, curl_easy_strerror(result)};
  } else if (status != (t.rangeAsked ? 206 : 200)) {
    // The server answered, but not with the file: the report names its answer.
    failure = {FetchFailure::Kind::Status, "HTTP " + std::to_string(status), 0, status};
  } else if (!written) {
    const std::string reason = systemReason(writeError);
    failure = {FetchFailure::Kind::Write,
               systemText(text::kLocalFileWriteFailed, t.writePath.c_str(), reason.c_str())};
  } else {
    fileHosts().answered(t.host);
    return true;
  }
  if (end.multi == CURLM_OK && failure.kind != FetchFailure::Kind::ProxyLogin &&
      failure.kind != FetchFailure::Kind::DiskFull && hostsFault(t, result, status)) {
    failure.hostsFault = true;
    failure.host = t.host;
    failure.hostWait = wait;
    countAgainstHost(failure,
                     failure.text.empty() ? curl_easy_strerror(result) : failure.text.c_str());
  }
  return false;
}

}  // namespace vestrel
