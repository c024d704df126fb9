#include "update/net/FileServer.h"

#include <chrono>

#include "BuildConfig.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/RunContext.h"
#include "update/net/FetchReport.h"
#include "update/net/FileHosts.h"

namespace vestrel {

FileHosts& fileHosts() {
  NetContext& net = runContext().net;
  // A test may name other mirrors once the context is made.
  if (net.hosts.count() != 1 + net.mirrors.size()) {
    net.hosts = FileHosts(1 + net.mirrors.size());
  }
  return net.hosts;
}

const std::string& hostBase(std::size_t host) {
  const NetContext& net = runContext().net;
  return host == 0 || host > net.mirrors.size() ? net.fileServer : net.mirrors[host - 1];
}

const std::string& fileServerBase() {
  return hostBase(fileHosts().ask(std::chrono::steady_clock::now()));
}

bool retryOnAnotherHost(const FetchFailure& failure, std::size_t& hostsTried,
                        std::chrono::steady_clock::time_point& readyAt) {
  FileHosts& hosts = fileHosts();
  const auto now = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point back;
  const std::size_t next = hosts.pick(now, back);
  if (next != kNoHost && next != failure.host && ++hostsTried < hosts.count()) {
    readyAt = now;
    return true;
  }
  const std::size_t busy = hosts.askedToWait(now, back);
  if (busy == kNoHost || back - now >= kQuietHostWait) {
    return false;
  }
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(back - now).count();
  logLine(text::kHostBusy, hostBase(busy).c_str(), static_cast<long long>(seconds));
  readyAt = back;
  hostsTried = 0;
  return true;
}

std::string listUrl(const char* listName) {
  return fileServerBase() + "/launcher/.launcher/" + listName;
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

const char* caFile() {
  return VESTREL_CA_FILE;
}

}  // namespace vestrel
