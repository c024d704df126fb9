// The error box: MessageBoxW with no owner window, callable from any thread.

#include <windows.h>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {

void showErrorBox(const std::string& narrowTitle, const std::string& narrowText) {
  MessageBoxW(nullptr, win32::toWide(narrowText).c_str(), win32::toWide(narrowTitle).c_str(),
              MB_OK | MB_ICONERROR);
}

namespace {

BOOL CALLBACK closeIfOwnBox(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t className[16] = {};
  // "#32770" is the dialog class every message box is made of; the installer makes no other
  // dialog, so each of this process's own is a box.
  if (process == GetCurrentProcessId() && GetClassNameW(window, className, 16) > 0 &&
      lstrcmpW(className, L"#32770") == 0) {
    // A box with only OK takes WM_CLOSE as OK: its thread returns from MessageBoxW.
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

}  // namespace

// A box holds the thread that shows it until it is answered; closing it lets that thread
// reach its end, so the window's owner can join it.
void endErrorBoxes() {
  EnumWindows(closeIfOwnBox, 0);
}

}  // namespace vestrel::platform
