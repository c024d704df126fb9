// The error box, the fatal report and the end of the process.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>

namespace vestrel {

// The error boxes of the run, in the run's context (support/SupportContext.h). A box blocks
// only the thread that shows it; the run's end dismisses the boxes still up, so that no thread
// waits on a player who has closed the window.
class ErrorBoxes {
 public:
  // Where boxes go instead of the screen (tests record them); empty: the system's box.
  using Sink = std::function<void(const std::string& narrowTitle, const std::string& narrowText)>;

  // Shows the box titled "Ошибка" and returns once it is dismissed. Once the boxes have ended,
  // or `withdrawn` (when given) is set, returns at once without showing it.
  void show(const std::string& narrowText, const std::atomic<bool>* withdrawn = nullptr);
  void setSink(Sink sink);
  // Dismisses every box up now and waits (a little) until the threads showing them return.
  void dismissAll();
  // No further box is shown, and those up are dismissed: the run is ending.
  void end();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Sink sink_;
  int up_ = 0;
  bool ended_ = false;
};

// The current context's boxes: shows the modal error box with `narrowText`.
void showError(const std::string& narrowText);

// Ends the process at once with `status`. The standard streams are flushed, but no destructor
// or exit handler runs. Only for a thread that the system holds in a call that never returns
// (a file on a share that does not answer): it cannot be joined, and the process must end
// without it.
[[noreturn]] void endProcess(int status = 0);

// A fatal report: the log lines and the error box, in the caller's order (an empty box text
// shows none). The caller then ends its run, which writes the log's end banner.
enum class ReportOrder { LogFirst, BoxFirst };
void fatalReport(ReportOrder order, std::initializer_list<std::string> narrowLogMessages,
                 const std::string& narrowBoxText);

}  // namespace vestrel
