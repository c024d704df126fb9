// Narrow text on POSIX is UTF-8, the same encoding the installer's texts are written in.
#include <clocale>
#include <ctime>

#include "platform/Platform.h"

namespace vestrel::platform {

void setProcessLocale() {
  // A fixed locale rather than the user's (LANG, LC_*): the program's behaviour must not change
  // with the player's locale, and UTF-8 keeps file names, log lines and box texts in one
  // encoding. (The settings location does follow XDG_CONFIG_HOME and HOME: that is where the
  // platform keeps per-user settings.)
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
    std::setlocale(LC_ALL, "C");
  }
}

std::string narrowText(std::string_view utf8) {
  return std::string(utf8);
}

std::string narrowToUtf8(std::string_view narrow) {
  return std::string(narrow);
}

bool utf8ToNarrow(std::string_view utf8, std::string& narrow) {
  narrow.assign(utf8);
  return true;
}

bool localCalendarTime(std::tm& out) {
  const std::time_t now = std::time(nullptr);
  return now != static_cast<std::time_t>(-1) && localtime_r(&now, &out) != nullptr;
}

}  // namespace vestrel::platform
