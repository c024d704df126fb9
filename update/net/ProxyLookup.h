// Asking the system which proxy the run goes through, once per run, with a deadline.
//
// The user's own settings are read at once. When they ask for auto-detection or a
// configuration script, the answer may need the network: it is asked on a thread of the
// lookup's own, started while the window opens, and the run waits for it at most
// kProxyLookupPatience from its start. A lookup that has not answered by then leaves the run
// to the manual settings (else direct), which the log says. The thread is stopped and joined
// with the lookup.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "update/net/ProxyChoice.h"

namespace vestrel {

inline constexpr std::chrono::seconds kProxyLookupPatience{5};

class ProxyLookup {
 public:
  ProxyLookup() = default;
  ~ProxyLookup();
  ProxyLookup(const ProxyLookup&) = delete;
  ProxyLookup& operator=(const ProxyLookup&) = delete;

  // Starts asking the system about transfers to `url`; later calls do nothing.
  void start(const std::string& url);
  // The run's choice for transfers to `url`: waits for a lookup still running (see above, or
  // until `stop`). The first call logs it when the system decided it.
  const ProxyChoice& choice(const std::string& url, std::stop_token stop);

 private:
  void startLocked(const std::string& url);

  std::mutex mutex_;
  std::condition_variable_any answered_;
  bool started_ = false;
  std::chrono::steady_clock::time_point startedAt_;
  ProxyChoice manual_;                 // from the settings alone
  std::optional<ProxyChoice> looked_;  // what the lookup answered
  std::optional<ProxyChoice> chosen_;  // the run's choice, once made; never changed after
  std::jthread thread_;                // last: stopped and joined before the rest goes
};

}  // namespace vestrel
