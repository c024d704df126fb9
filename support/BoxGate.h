// Error boxes of failures that the run retries by itself: never more than one up at a time,
// and never a reason for the work to wait.
//
// A report is shown on a thread of the gate's own, so retries go on with their back-off while
// the player has not yet closed it. While a box is up, further failures are only logged. A
// failure of a kind already shown in this run is shown again at most once every kBoxRepeat,
// and the download's own "repository" box comes once per run, after the first report shown.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vestrel {

class ErrorBoxes;

enum class BoxKind { Connection, Status, Digest, Write, Count };

inline constexpr std::chrono::minutes kBoxRepeat{5};

class BoxGate {
 public:
  // Shows its boxes through `boxes`.
  explicit BoxGate(ErrorBoxes& boxes) : boxes_(boxes) {}
  // Dismisses the box up, stops the gate's thread and joins it.
  ~BoxGate();
  BoxGate(const BoxGate&) = delete;
  BoxGate& operator=(const BoxGate&) = delete;

  // Offers one report of the download: the fetcher's box (empty: none), then, the first time
  // a report is shown, the repository box. False when the report is withheld; its failure has
  // been logged by then anyway.
  bool offer(BoxKind kind, std::string narrowText);
  // The run has what it came for: the box up now is dismissed and none follows.
  void end();
  // Waits until no box of the gate is up.
  void waitIdle();

 private:
  void run(std::stop_token stop);

  ErrorBoxes& boxes_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::array<std::optional<std::chrono::steady_clock::time_point>,
             static_cast<std::size_t>(BoxKind::Count)>
      lastShown_{};
  std::vector<std::string> pending_;
  bool up_ = false;  // a report is pending or being shown
  bool repositoryShown_ = false;
  // The run needs no more boxes of retried failures. Set under the mutex, and read by the
  // boxes as well, so that a box the thread was about to show when the gate ended stays away.
  std::atomic<bool> ended_{false};
  std::jthread thread_;  // last: stopped and joined before the rest goes
};

// The current context's gate (support/SupportContext.h).
bool offerBoxes(BoxKind kind, std::string narrowText);
void endBoxes();

}  // namespace vestrel
