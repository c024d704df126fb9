#include "update/net/FetchReport.h"

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/HelpLinks.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/lists/ListRefusal.h"
#include "update/net/FetchOperation.h"

namespace vestrel {
namespace {

// Each report logs its lines and opens its help link, and returns its box's text.
std::string sslReport(const FetchOperation& op) {
  logLine(op.sslErrorLine);
  logLine(text::kSslHint);
  openSslHelpLink();
  return platform::narrowText(text::kSslErrorBox);
}

std::string otherReport(const FetchOperation& op, const std::string& errorText) {
  logLine(op.otherErrorLine, errorText.c_str());
  logLine(text::kGeneralHint);
  openGeneralHelpLink();
  return systemText(text::kOtherErrorBox, errorText.c_str());
}

std::string proxyLoginReport(const std::string& proxy) {
  logLine(text::kProxyRefusedLogin, proxy.c_str());
  logLine(text::kGeneralHint);
  openGeneralHelpLink();
  return systemText(text::kProxyRefusedLoginBox, proxy.c_str());
}

std::string initReport() {
  // The log names the SSL guide while the browser and the box point to the general one.
  logLine(text::kCurlInitError);
  logLine(text::kSslHint);
  openGeneralHelpLink();
  return platform::narrowText(text::kCurlInitErrorBox);
}

}  // namespace

std::string logReport(const FetchOperation& op, const FetchFailure& failure) {
  switch (failure.kind) {
    case FetchFailure::Kind::None:
    case FetchFailure::Kind::DiskFull:  // the caller's own report
    case FetchFailure::Kind::Refused:
    case FetchFailure::Kind::StartOver:
      break;
    case FetchFailure::Kind::Init:
      return initReport();
    case FetchFailure::Kind::Ssl:
      return sslReport(op);
    case FetchFailure::Kind::Other:
    case FetchFailure::Kind::Status:
    case FetchFailure::Kind::Write:
      return otherReport(op, failure.text);
    case FetchFailure::Kind::ProxyLogin:
      return proxyLoginReport(failure.text);
    case FetchFailure::Kind::OverLimit:
      reportOversizedList(op.listName);
      break;
    case FetchFailure::Kind::Mismatch:
      logLine(text::kDownloadMismatch, failure.text.c_str());
      break;
  }
  return {};
}

void report(const FetchOperation& op, const FetchFailure& failure) {
  const std::string box = logReport(op, failure);
  if (!box.empty()) {
    showError(box);
  }
}

void reportFileFailure(const FetchFailure& failure) {
  report(kFileFetch, failure);
}

std::string logFileFailure(const FetchFailure& failure) {
  return logReport(kFileFetch, failure);
}

void reportReleaseRefusal(const std::string& rule) {
  logMessage(systemText(text::kReleaseRefused, rule.c_str()));
  showError(platform::narrowText(text::kReleaseRefusedBox));
}

void reportDiskFull(const InstallState& state, const FetchFailure& failure) {
  const std::string folder = state.installFolder;
  const double megabytes = static_cast<double>(failure.shortBy) / (1024.0 * 1024.0);
  if (failure.shortBy > 0) {
    logMessage(systemText(text::kDiskFull, failure.text.c_str(), folder.c_str(), megabytes));
    showError(systemText(text::kDiskFullBox, folder.c_str(), megabytes));
  } else {
    logMessage(systemText(text::kDiskFullUnknown, failure.text.c_str(), folder.c_str()));
    showError(systemText(text::kDiskFullUnknownBox, folder.c_str()));
  }
}

BoxKind boxKindOf(const FetchFailure& failure) {
  switch (failure.kind) {
    case FetchFailure::Kind::Status:
      return BoxKind::Status;
    case FetchFailure::Kind::Mismatch:
      return BoxKind::Digest;
    case FetchFailure::Kind::Write:
      return BoxKind::Write;
    default:
      return BoxKind::Connection;
  }
}

}  // namespace vestrel
