// Compiled into each program with the server it downloads from (VESTREL_FILE_SERVER_TEXT), so
// that one build can make programs for several servers from the same core.
#include "update/net/NetContext.h"

namespace vestrel {

const char* builtInFileServer() {
  return VESTREL_FILE_SERVER_TEXT;
}

}  // namespace vestrel
