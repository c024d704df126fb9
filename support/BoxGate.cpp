#include "support/BoxGate.h"

#include <system_error>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/SupportContext.h"
#include "support/Texts.h"

namespace vestrel {

BoxGate::~BoxGate() {
  end();
  thread_.request_stop();
  // The jthread joins as it goes; end() has dismissed the box that could hold it.
}

bool BoxGate::offer(BoxKind kind, std::string text) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  auto& last = lastShown_[static_cast<std::size_t>(kind)];
  if (ended_ || up_ || (last.has_value() && now - *last < kBoxRepeat)) {
    return false;
  }
  if (!thread_.joinable()) {
    try {
      thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
    } catch (const std::system_error&) {
      return false;  // no thread for boxes: the failure stays in the log only
    }
  }
  last = now;
  up_ = true;
  pending_ = {std::move(text)};
  if (!repositoryShown_) {
    repositoryShown_ = true;
    pending_.push_back(platform::narrowText(text::kRepositoryFailedBox));
  }
  lock.unlock();
  changed_.notify_all();
  return true;
}

void BoxGate::waitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !up_; });
}

void BoxGate::end() {
  bool showing = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    // What was offered but not yet taken by the thread is dropped here, so the gate is not
    // left up with nothing to show.
    if (up_ && !pending_.empty()) {
      pending_.clear();
      up_ = false;
    }
    showing = up_;
  }
  changed_.notify_all();
  if (showing) {
    boxes_.dismissAll();
  }
}

void BoxGate::run(std::stop_token stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!changed_.wait(lock, stop, [this] { return !pending_.empty(); })) {
      return;  // stopped
    }
    const std::vector<std::string> texts = std::move(pending_);
    pending_.clear();
    for (const std::string& text : texts) {
      if (ended_) {
        break;
      }
      lock.unlock();
      if (!text.empty()) {
        boxes_.show(text, &ended_);
      }
      lock.lock();
    }
    up_ = false;
    changed_.notify_all();
  }
}

bool offerBoxes(BoxKind kind, std::string narrowText) {
  return supportContext().boxGate.offer(kind, std::move(narrowText));
}

void endBoxes() {
  supportContext().boxGate.end();
}

}  // namespace vestrel
