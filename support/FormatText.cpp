#include "support/FormatText.h"

#include <cstdio>
#include <system_error>

#include "platform/Platform.h"

namespace vestrel {

void formatTextV(std::string& buffer, const char* format, std::va_list args) {
  std::va_list probe;
  va_copy(probe, args);
  const int needed = std::vsnprintf(nullptr, 0, format, probe);
  va_end(probe);
  if (needed <= 0) {
    buffer.clear();
    return;
  }
  buffer.resize(static_cast<std::size_t>(needed));
  std::vsnprintf(buffer.data(), buffer.size() + 1, format, args);
}

void formatText(std::string& buffer, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  formatTextV(buffer, format, args);
  va_end(args);
}

std::string formatted(const char* format, ...) {
  std::string buffer;
  std::va_list args;
  va_start(args, format);
  formatTextV(buffer, format, args);
  va_end(args);
  return buffer;
}

std::string systemText(const char* utf8Format, ...) {
  std::string buffer;
  std::va_list args;
  va_start(args, utf8Format);
  formatTextV(buffer, platform::narrowText(utf8Format).c_str(), args);
  va_end(args);
  return buffer;
}

std::string systemReason(int error) {
  return std::error_code(error, std::generic_category()).message();
}

}  // namespace vestrel
