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

// One question to WinHTTP's resolver, answered on a thread of WinHTTP's. It lives until the
// resolver's handle has closed, since only then is the resolver done with it.
struct PendingAnswer {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD error = ERROR_SUCCESS;
  ~PendingAnswer() {
    CloseHandle(done);
    CloseHandle(closed);
  }
};

void CALLBACK resolverEvent(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  auto* pending = reinterpret_cast<PendingAnswer*>(context);
  if (pending == nullptr) {
    return;
  }
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_GETPROXYFORURL_COMPLETE:
      SetEvent(pending->done);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      pending->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
      SetEvent(pending->done);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      SetEvent(pending->closed);
      break;
    default:
      break;
  }
}

// The first proxy the answer names, in the settings' notation; empty when it says DIRECT.
std::string proxiesOf(const WINHTTP_PROXY_RESULT& result) {
  if (result.cEntries == 0 || !result.pEntries[0].fProxy) {
    return {};
  }
  const WINHTTP_PROXY_RESULT_ENTRY& entry = result.pEntries[0];
  const std::string where = narrowOf(entry.pwszProxy) + ":" + std::to_string(entry.ProxyPort);
  return entry.ProxyScheme == INTERNET_SCHEME_SOCKS ? "socks=" + where : where;
}

// Waits for the question's answer, or for `stop`. True when it was answered.
bool waitForAnswer(const PendingAnswer& pending, std::stop_token stop) {
  HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stopped == nullptr) {
    return false;
  }
  DWORD which = WAIT_FAILED;
  {
    const std::stop_callback onStop(stop, [stopped] { SetEvent(stopped); });
    const HANDLE events[2] = {pending.done, stopped};
    which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
  }
  CloseHandle(stopped);
  return which == WAIT_OBJECT_0 && pending.error == ERROR_SUCCESS;
}

// Asks the resolver of `session` for `url`. Closing the resolver's handle calls off a
// question still open, which is how a stop ends the wait.
bool askResolver(HINTERNET session, const std::string& url, WINHTTP_AUTOPROXY_OPTIONS& options,
                 std::stop_token stop, std::string& proxies) {
  HINTERNET resolver = nullptr;
  if (WinHttpCreateProxyResolver(session, &resolver) != ERROR_SUCCESS) {
    return false;
  }
  auto* pending = new PendingAnswer();
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(pending);
  WinHttpSetOption(resolver, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
  bool answered = false;
  if (WinHttpSetStatusCallback(resolver, &resolverEvent,
                               WINHTTP_CALLBACK_FLAG_REQUEST_ERROR |
                                   WINHTTP_CALLBACK_FLAG_GETPROXYFORURL_COMPLETE |
                                   WINHTTP_CALLBACK_FLAG_HANDLES,
                               0) != WINHTTP_INVALID_STATUS_CALLBACK) {
    const std::wstring wideUrl = win32::toWide(url, CP_UTF8);
    answered =
        WinHttpGetProxyForUrlEx(resolver, wideUrl.c_str(), &options, context) == ERROR_IO_PENDING &&
        waitForAnswer(*pending, stop);
  }
  WINHTTP_PROXY_RESULT result{};
  if (answered && WinHttpGetProxyResult(resolver, &result) == ERROR_SUCCESS) {
    proxies = proxiesOf(result);
    WinHttpFreeProxyResult(&result);
  } else {
    answered = false;
  }
  WinHttpCloseHandle(resolver);
  // A resolver that never says it has closed may still call back: its answer is left to the
  // process rather than freed under it.
  if (WaitForSingleObject(pending->closed, 2000) == WAIT_OBJECT_0) {
    delete pending;
  }
  return answered;
}

}  // namespace

SystemProxy systemProxySettings(bool& lookUp) {
  SystemProxy answer;
  lookUp = false;
  UserSettings settings;
  if (!WinHttpGetIEProxyConfigForCurrentUser(&settings.config)) {
    return answer;  // no settings to follow
  }
  answer.decided = true;
  lookUp = settings.config.fAutoDetect || settings.config.lpszAutoConfigUrl != nullptr;
  answer.proxies = narrowOf(settings.config.lpszProxy);
  answer.bypass = narrowOf(settings.config.lpszProxyBypass);
  return answer;
}

bool lookUpSystemProxy(const std::string& url, std::stop_token stop, SystemProxy& answer) {
  UserSettings settings;
  if (!WinHttpGetIEProxyConfigForCurrentUser(&settings.config)) {
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
  if (options.dwFlags == 0) {
    return false;
  }
  options.fAutoLogonIfChallenged = TRUE;
  HINTERNET session =
      WinHttpOpen(L"VESTREL/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (session == nullptr) {
    return false;
  }
  std::string proxies;
  const bool answered = askResolver(session, url, options, stop, proxies);
  WinHttpCloseHandle(session);
  if (!answered) {
    return false;
  }
  answer.proxies = proxies;
  answer.bypass.clear();  // the script decided for this address already
  if (settings.config.lpszAutoConfigUrl != nullptr) {
    answer.source = SystemProxy::Source::Script;
    answer.script = narrowOf(settings.config.lpszAutoConfigUrl);
  } else {
    answer.source = SystemProxy::Source::AutoDetection;
  }
  return true;
}

}  // namespace vestrel::platform
