// POSIX systems keep no proxy settings of their own for a program to ask: libcurl reads the
// conventional environment variables itself.
#include "platform/Platform.h"

namespace vestrel::platform {

SystemProxy systemProxyFor(const std::string&) {
  return {};
}

}  // namespace vestrel::platform
