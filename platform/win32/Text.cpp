// Narrow text on Windows is Windows-1251: the log, the error boxes, the settings value and
// every path the installer composes use it, whatever the system's own ANSI code page is.

#include <windows.h>

#include <clocale>
#include <ctime>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {

void setProcessLocale() {
  std::setlocale(LC_ALL, ".1251");
}

std::string narrowText(std::string_view utf8) {
  return win32::toNarrow(win32::toWide(utf8, CP_UTF8));
}

std::string narrowToUtf8(std::string_view narrow) {
  return win32::toNarrow(win32::toWide(narrow), CP_UTF8);
}

bool utf8ToNarrow(std::string_view utf8, std::string& narrow) {
  // Malformed UTF-8 comes out as U+FFFD, which Windows-1251 has no byte for.
  const std::wstring wide = win32::toWide(utf8, CP_UTF8);
  return win32::toNarrowExactly(wide, narrow) && (utf8.empty() || !wide.empty());
}

bool localCalendarTime(std::tm& out) {
  const __time64_t now = _time64(nullptr);
  return now != -1 && _localtime64_s(&out, &now) == 0;
}

}  // namespace vestrel::platform
