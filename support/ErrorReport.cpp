#include "support/ErrorReport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"
#include "support/Log.h"
#include "support/SupportContext.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

// How long the end of a run waits for the threads of dismissed boxes to return: a box the
// system is still putting up when it is dismissed is dismissed again meanwhile.
constexpr std::chrono::seconds kDismissPatience{2};
constexpr std::chrono::milliseconds kDismissRetry{20};

}  // namespace

void ErrorBoxes::show(const std::string& narrowText, const std::atomic<bool>* withdrawn) {
  Sink sink;
  {
    // Checked under the lock that dismissAll() counts the boxes by: one withdrawn before that
    // count is never shown, and one counted is dismissed.
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_ || (withdrawn != nullptr && withdrawn->load())) {
      return;
    }
    ++up_;
    sink = sink_;
  }
  const std::string title = platform::narrowText(text::kErrorTitle);
  if (sink) {
    sink(title, narrowText);
  } else {
    platform::showErrorBox(title, narrowText);
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    --up_;
  }
  changed_.notify_all();
}

void ErrorBoxes::setSink(Sink sink) {
  const std::lock_guard<std::mutex> lock(mutex_);
  sink_ = std::move(sink);
}

void ErrorBoxes::dismissAll() {
  const auto deadline = std::chrono::steady_clock::now() + kDismissPatience;
  std::unique_lock<std::mutex> lock(mutex_);
  while (up_ > 0 && std::chrono::steady_clock::now() < deadline) {
    lock.unlock();
    platform::endErrorBoxes();
    lock.lock();
    changed_.wait_for(lock, kDismissRetry, [this] { return up_ == 0; });
  }
}

void ErrorBoxes::end() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  dismissAll();
}

void showError(const std::string& narrowText) {
  supportContext().boxes.show(narrowText);
}

void endProcess(int status) {
  // A box still up has nothing left to wait for.
  platform::endErrorBoxes();
  // Only the standard streams: flushing every stream would wait for one that a stuck thread
  // holds. The log closes its file after every record.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

void fatalReport(ReportOrder order, std::initializer_list<std::string> narrowLogMessages,
                 const std::string& narrowBoxText) {
  const auto box = [&] {
    if (!narrowBoxText.empty()) {
      showError(narrowBoxText);
    }
  };
  if (order == ReportOrder::BoxFirst) {
    box();
  }
  for (const std::string& message : narrowLogMessages) {
    logMessage(message);
  }
  if (order == ReportOrder::LogFirst) {
    box();
  }
}

}  // namespace vestrel
