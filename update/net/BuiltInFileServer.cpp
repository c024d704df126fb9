// Compiled into each program with the server it downloads from (VESTREL_FILE_SERVER_TEXT) and
// that server's mirrors (VESTREL_MIRRORS_TEXT), so that one build can make programs for several
// servers from the same core.
#include <algorithm>
#include <string_view>

#include "update/net/NetContext.h"

namespace vestrel {

const char* builtInFileServer() {
  return VESTREL_FILE_SERVER_TEXT;
}

std::vector<std::string> builtInMirrors() {
  std::vector<std::string> mirrors;
  const std::string_view text = VESTREL_MIRRORS_TEXT;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    mirrors.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return mirrors;
}

}  // namespace vestrel
