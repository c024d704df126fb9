#include "update/net/FileServer.h"

#include "BuildConfig.h"
#include "update/RunContext.h"

namespace vestrel {

const std::string& fileServerBase() {
  return runContext().net.fileServer;
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
