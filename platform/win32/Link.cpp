// Help links open in the user's browser through the shell.
#include <windows.h>

#include <shellapi.h>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {

void openLink(const std::string& narrowUrl) {
  ShellExecuteW(nullptr, nullptr, win32::toWide(narrowUrl).c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
}

}  // namespace vestrel::platform
