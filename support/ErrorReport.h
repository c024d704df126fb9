// The error box and the end of the process.
#pragma once

#include <initializer_list>
#include <string>

namespace vestrel {

// Shows the modal error box titled "Ошибка" with `narrowText`; returns once it is dismissed.
void showError(const std::string& narrowText);

// Replaces how error boxes are shown (tests record them instead). nullptr restores the box.
using ErrorBoxSink = void (*)(const std::string& narrowTitle, const std::string& narrowText);
void setErrorBoxSink(ErrorBoxSink sink);

// Ends the process at once with `status` (0 unless said otherwise). The standard streams are
// flushed, but no destructor or exit handler runs: other threads may be inside the GUI or a
// transfer, and tearing shared objects down under them could crash and turn the status into
// a failure.
[[noreturn]] void endProcess(int status = 0);

// Writes the log's end banner and ends the process with status 0.
[[noreturn]] void endRun();

// A fatal report: the log lines and the error box (in the caller's order; an empty box
// text shows none), then the end banner, then the end of the process with status 0.
enum class ReportOrder { LogFirst, BoxFirst };
[[noreturn]] void fatalReport(ReportOrder order,
                              std::initializer_list<std::string> narrowLogMessages,
                              const std::string& narrowBoxText);

}  // namespace vestrel
