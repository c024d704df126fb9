#include "update/VTNetwork.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/HelpLinks.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/FileServer.h"
#include "update/InstallState.h"

namespace vestrel {
namespace {

constexpr char kUserAgent[] = "VESTREL/1.0";

// What differs between the four operations.
struct Operation {
  const char* sslErrorLine;
  const char* otherErrorLine;
  bool ipv4Only;
  bool quiet;
};

constexpr Operation kDirList{text::kDirListSslError, text::kDirListOtherError, false, false};
constexpr Operation kFileList{text::kFileListSslError, text::kFileListOtherError, true, false};
constexpr Operation kHashList{text::kHashListSslError, text::kHashListOtherError, false, false};
constexpr Operation kFile{text::kFileSslError, text::kFileOtherError, false, true};

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

// An easy handle, or the initialisation report and nullptr.
CURL* newHandle() {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    initReport();
    curl_easy_cleanup(curl);
  }
  return curl;
}

std::size_t writeToFile(char* data, std::size_t size, std::size_t count, void* file) {
  return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

// One GET of `url` into `writePath`, with the options in the order the server expects to
// see them; the CA bundle is added only when the build names one.
bool transfer(const Operation& op, CURL* curl, const std::string& writePath, const std::string& url,
              const std::string& logName) {
  std::FILE* file = std::fopen(writePath.c_str(), "wb");
  if (file == nullptr) {
    // Never hand libcurl a file that did not open: report it like any other failure.
    const std::string reason = std::error_code(errno, std::generic_category()).message();
    otherReport(op, systemText(text::kLocalFileFailed, writePath.c_str(), reason.c_str()));
    curl_easy_cleanup(curl);
    return false;
  }

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 0L);
  if (op.ipv4Only) {
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
  }
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  if (caFile()[0] != '\0') {
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile());
  }
  if (op.quiet) {
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L);
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeToFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);

  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);

  bool ok = false;
  if (result == CURLE_OK && status == 200) {
    logLine(text::kDownloaded, logName.c_str());
    ok = true;
  } else if (result == CURLE_SSL_CONNECT_ERROR) {
    sslReport(op);
  } else {
    // A status other than 200 is reported with the text of the (successful) result code.
    otherReport(op, curl_easy_strerror(result));
  }
  curl_easy_cleanup(curl);
  // Whatever arrived stays on disk; a failed attempt leaves an empty or partial file.
  std::fclose(file);
  return ok;
}

bool fetchList(const Operation& op, const std::string& localPath, const char* listName) {
  CURL* curl = newHandle();
  if (curl == nullptr) {
    return false;
  }
  const std::string url = formatted("%s/launcher/.launcher/%s", fileServerBase().c_str(), listName);
  return transfer(op, curl, localPath, url, localPath);
}

}  // namespace

bool fetchDirList(const std::string& narrowLocalPath) {
  return fetchList(kDirList, narrowLocalPath, "udirs.lists");
}

bool fetchFileList(const std::string& narrowLocalPath) {
  return fetchList(kFileList, narrowLocalPath, "ufile.lists");
}

bool fetchHashList(const std::string& narrowLocalPath) {
  return fetchList(kHashList, narrowLocalPath, "uhash.lists");
}

bool fetchFile(const std::string& narrowLocalPath, const std::string& narrowLogName) {
  CURL* curl = newHandle();
  if (curl == nullptr) {
    return false;
  }
  const std::string root = installState().installRoot;
  // Queue entries always start with the install root; anything else is not ours to write.
  if (narrowLocalPath.empty() || narrowLocalPath.compare(0, root.size(), root) != 0) {
    curl_easy_cleanup(curl);
    return false;
  }
  const std::string relative = narrowLocalPath.substr(root.size());
  const std::string writePath =
      relative == "launcher.exe" ? root + "launcher_new.exe" : narrowLocalPath;
  const std::string url = formatted("%s/launcher/%s", fileServerBase().c_str(), relative.c_str());
  return transfer(kFile, curl, writePath, url, narrowLogName);
}

}  // namespace vestrel
