// On POSIX narrow text is UTF-8: the lists' Windows-1251 lines are converted.
#include "platform/ListEncoding.h"

#include "support/Windows1251.h"

namespace vestrel::platform {

bool listLineToNarrow(std::string_view line, std::string& narrow) {
  return windows1251ToUtf8(line, narrow);
}

}  // namespace vestrel::platform
