#include "support/BoxGate.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

using Clock = std::chrono::steady_clock;

// Lives as long as the process: a box may still be up when the run ends, and the process
// ends with it (endProcess), so its thread is never joined.
class Gate {
 public:
  bool offer(BoxKind kind, std::string text) {
    std::unique_lock<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point>& last = lastShown_[static_cast<std::size_t>(kind)];
    if (ended_ || up_ || (last.has_value() && now - *last < kBoxRepeat)) {
      return false;
    }
    last = now;
    up_ = true;
    pending_ = {std::move(text)};
    if (!repositoryShown_) {
      repositoryShown_ = true;
      pending_.push_back(platform::narrowText(text::kRepositoryFailedBox));
    }
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { run(); });
      } catch (const std::system_error&) {
        up_ = false;  // no thread for boxes: the failure stays in the log only
        return false;
      }
    }
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  void waitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !up_; });
  }

  void end() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
      pending_.clear();
    }
    platform::endErrorBoxes();
  }

  void reset() {
    waitIdle();
    const std::lock_guard<std::mutex> lock(mutex_);
    lastShown_ = {};
    repositoryShown_ = false;
    ended_ = false;
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !pending_.empty(); });
      const std::vector<std::string> texts = std::move(pending_);
      pending_.clear();
      lock.unlock();
      for (const std::string& text : texts) {
        if (!text.empty() && !endedNow()) {
          showError(text);
        }
      }
      lock.lock();
      up_ = false;
      changed_.notify_all();
    }
  }

  bool endedNow() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::array<std::optional<Clock::time_point>, static_cast<std::size_t>(BoxKind::Count)>
      lastShown_{};
  std::vector<std::string> pending_;
  bool up_ = false;
  bool repositoryShown_ = false;
  bool ended_ = false;  // the run needs no more boxes of retried failures
  std::thread thread_;
};

Gate& gate() {
  static Gate* const instance = new Gate();
  return *instance;
}

}  // namespace

bool offerBoxes(BoxKind kind, std::string narrowText) {
  return gate().offer(kind, std::move(narrowText));
}

void endBoxes() {
  gate().end();
}

void waitForBoxesForTesting() {
  gate().waitIdle();
}

void resetBoxGateForTesting() {
  gate().reset();
}

}  // namespace vestrel
