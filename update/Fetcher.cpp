#include "update/Fetcher.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

std::size_t writeToFile(char* data, std::size_t size, std::size_t count, void* file) {
  return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

// One GET of `url` into `writePath`. The options go in the same order for every operation (the
// order matters neither to libcurl nor to the server); the CA bundle is added only when the
// build names one.
bool transfer(const Operation& op, EasyHandle&& handle, const std::string& writePath,
              const std::string& url, const std::string& logName) {
  const FileHandle file(std::fopen(writePath.c_str(), "wb"));
  // Declared after the file, so the handle is released first and the file closed after it.
  const EasyHandle curl = std::move(handle);
  if (file == nullptr) {
    // Never hand libcurl a file that did not open: report it like any other failure.
    const std::string reason = std::error_code(errno, std::generic_category()).message();
    otherReport(op, systemText(text::kLocalFileFailed, writePath.c_str(), reason.c_str()));
    return false;
  }

  CURL* easy = curl.get();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 0L);
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
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeToFile);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, file.get());

  const CURLcode result = curl_easy_perform(easy);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

  if (result == CURLE_OK && status == 200) {
    logLine(text::kDownloaded, logName.c_str());
    return true;
  }
  if (result == CURLE_SSL_CONNECT_ERROR) {
    sslReport(op);
  } else {
    // A status other than 200 is reported with the text of the (successful) result code.
    otherReport(op, curl_easy_strerror(result));
  }
  // Whatever arrived stays on disk; a failed attempt leaves an empty or partial file.
  return false;
}

bool fetchList(const Operation& op, const std::string& localPath, const char* listName) {
  EasyHandle curl = newHandle();
  if (curl == nullptr) {
    return false;
  }
  const std::string url = formatted("%s/launcher/.launcher/%s", fileServerBase().c_str(), listName);
  return transfer(op, std::move(curl), localPath, url, localPath);
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
  const std::string url = formatted("%s/launcher/%s", fileServerBase().c_str(), relative.c_str());
  return transfer(kFile, std::move(curl), writePath, url, narrowLogName);
}

}  // namespace vestrel
