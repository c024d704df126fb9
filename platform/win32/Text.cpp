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
  const std::wstring wide = win32::toWide(utf8, CP_UTF8);
  bool exact = true;
  narrow = win32::toNarrow(wide, win32::kNarrowCodePage, &exact);
  // The code page's best-fit mappings (an accented Latin letter to its plain one) are not
  // reported as replacements, yet they name another file: only text that converts back to
  // the same characters is exact. Malformed UTF-8 comes out as U+FFFD and fails here too.
  return exact && (utf8.empty() || !wide.empty()) && win32::toWide(narrow) == wide;
}

bool localCalendarTime(std::tm& out) {
  const __time64_t now = _time64(nullptr);
  return now != -1 && _localtime64_s(&out, &now) == 0;
}

}  // namespace vestrel::platform
