#include "support/ErrorReport.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"
#include "support/Log.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

ErrorBoxSink g_sink = nullptr;

}  // namespace

void showError(const std::string& narrowText) {
  const std::string title = platform::narrowText(text::kErrorTitle);
  if (g_sink != nullptr) {
    g_sink(title, narrowText);
  } else {
    platform::showErrorBox(title, narrowText);
  }
}

void setErrorBoxSink(ErrorBoxSink sink) {
  g_sink = sink;
}

void endProcess(int status) {
  // A box still up has nothing left to wait for.
  platform::endErrorBoxes();
  // Only the standard streams: flushing every stream would wait for one that a worker holds
  // while it is blocked reading a file. The log closes its file after every record.
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
  endRun();
}

void endRun() {
  logEnd();
  endProcess();
}

}  // namespace vestrel
