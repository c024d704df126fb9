// The proxy settings of the current user (Internet Options), and what their auto-detection
// or configuration script answers for an address.
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {
namespace {

std::string narrowOf(const wchar_t* wide) {
  return wide != nullptr ? win32::toNarrow(wide) : std::string();
}

// The strings WinHTTP hands out are the caller's to free.
struct UserSettings {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  ~UserSettings() {
    GlobalFree(config.lpszProxy);
    GlobalFree(config.lpszProxyBypass);
    GlobalFree(config.lpszAutoConfigUrl);
  }
};

// Runs the auto-detection and the configuration script the settings ask for. False when
// neither gives an answer (no script found, or it failed): the manual settings then apply,
// as they do for browsers.
bool askScript(const std::string& url, const UserSettings& settings, SystemProxy& answer) {
  HINTERNET session = WinHttpOpen(L"VESTREL/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) {
    return false;
  }
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (settings.config.fAutoDetect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (settings.config.lpszAutoConfigUrl != nullptr) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = settings.config.lpszAutoConfigUrl;
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  const std::wstring wideUrl = win32::toWide(url, CP_UTF8);
  const bool answered = WinHttpGetProxyForUrl(session, wideUrl.c_str(), &options, &info) != FALSE;
  WinHttpCloseHandle(session);
  if (!answered) {
    return false;
  }
  if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
    answer.proxies = narrowOf(info.lpszProxy);
    answer.bypass = narrowOf(info.lpszProxyBypass);
  }
  GlobalFree(info.lpszProxy);
  GlobalFree(info.lpszProxyBypass);
  if (settings.config.lpszAutoConfigUrl != nullptr) {
    answer.source = SystemProxy::Source::Script;
    answer.script = narrowOf(settings.config.lpszAutoConfigUrl);
  } else {
    answer.source = SystemProxy::Source::AutoDetection;
  }
  return true;
}

}  // namespace

SystemProxy systemProxyFor(const std::string& url) {
  SystemProxy answer;
  UserSettings settings;
  if (!WinHttpGetIEProxyConfigForCurrentUser(&settings.config)) {
    return answer;  // no settings to follow
  }
  answer.decided = true;
  const bool scripted = settings.config.fAutoDetect || settings.config.lpszAutoConfigUrl != nullptr;
  if (scripted && askScript(url, settings, answer)) {
    return answer;
  }
  answer.proxies = narrowOf(settings.config.lpszProxy);
  answer.bypass = narrowOf(settings.config.lpszProxyBypass);
  return answer;
}

}  // namespace vestrel::platform
