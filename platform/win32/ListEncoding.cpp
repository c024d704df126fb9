// On Windows narrow text is Windows-1251 already: a list line is used byte for byte.
#include "platform/ListEncoding.h"

namespace vestrel::platform {

bool listLineToNarrow(std::string_view line, std::string& narrow) {
  narrow.assign(line);
  return true;
}

}  // namespace vestrel::platform
