// The error box: MessageBoxW with no owner window, callable from any thread.

#include <windows.h>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {

void showErrorBox(const std::string& narrowTitle, const std::string& narrowText) {
  MessageBoxW(nullptr, win32::toWide(narrowText).c_str(), win32::toWide(narrowTitle).c_str(),
              MB_OK | MB_ICONERROR);
}

// A box is a window of this process's own thread: it ends with the process.
void endErrorBoxes() {}

}  // namespace vestrel::platform
