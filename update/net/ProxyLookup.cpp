#include "update/net/ProxyLookup.h"

#include <system_error>

#include "platform/Platform.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

void logChoice(const ProxyChoice& choice) {
  if (!choice.fromSystem) {
    return;  // libcurl's own rules: nothing the installer chose
  }
  using Source = platform::SystemProxy::Source;
  const std::string source = choice.system.source == Source::AutoDetection
                                 ? platform::narrowText(text::kProxyDetected)
                             : choice.system.source == Source::Script
                                 ? systemText(text::kProxyFromScript, choice.system.script.c_str())
                                 : platform::narrowText(text::kProxyFromSettings);
  if (choice.proxy.empty()) {
    logMessage(systemText(text::kProxyNone, source.c_str()));
  } else {
    logMessage(systemText(text::kProxyInUse, choice.proxy.c_str(), source.c_str()));
  }
}

}  // namespace

ProxyLookup::~ProxyLookup() {
  // The system's lookup gives up when asked to stop; the thread is joined as it goes.
  thread_.request_stop();
}

void ProxyLookup::start(const std::string& url) {
  const std::lock_guard<std::mutex> lock(mutex_);
  startLocked(url);
}

void ProxyLookup::startLocked(const std::string& url) {
  if (started_) {
    return;
  }
  started_ = true;
  startedAt_ = std::chrono::steady_clock::now();
  bool lookUp = false;
  const platform::SystemProxy settings = platform::systemProxySettings(lookUp);
  const std::string host = hostOfUrl(url);
  manual_ = proxyChoiceFrom(settings, host);
  if (!lookUp) {
    looked_ = manual_;
    return;
  }
  const auto ask = [this, url, host, settings](std::stop_token stop) {
    platform::SystemProxy answer = settings;
    const bool answered = platform::lookUpSystemProxy(url, stop, answer);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      looked_ = answered ? proxyChoiceFrom(answer, host) : manual_;
    }
    answered_.notify_all();
  };
  try {
    thread_ = std::jthread(ask);
  } catch (const std::system_error&) {
    looked_ = manual_;  // no thread to ask on: the settings alone
  }
}

const ProxyChoice& ProxyLookup::choice(const std::string& url, std::stop_token stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (chosen_.has_value()) {
    return *chosen_;
  }
  startLocked(url);
  answered_.wait_until(lock, stop, startedAt_ + kProxyLookupPatience,
                       [this] { return looked_.has_value(); });
  if (looked_.has_value()) {
    chosen_ = *looked_;
  } else {
    chosen_ = manual_;
    if (!stop.stop_requested()) {
      logLine(text::kProxyLookupTimedOut, static_cast<int>(kProxyLookupPatience.count()));
    }
  }
  logChoice(*chosen_);
  return *chosen_;
}

}  // namespace vestrel
