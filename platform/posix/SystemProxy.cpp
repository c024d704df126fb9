// POSIX systems keep no proxy settings of their own for a program to ask: libcurl reads the
// conventional environment variables itself.
#include "platform/Platform.h"

namespace vestrel::platform {

SystemProxy systemProxySettings(bool& lookUp) {
  lookUp = false;
  return {};
}

bool lookUpSystemProxy(const std::string&, std::stop_token, SystemProxy&) {
  return false;
}

}  // namespace vestrel::platform
