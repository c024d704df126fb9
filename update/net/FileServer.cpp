#include "update/net/FileServer.h"

#include "BuildConfig.h"
#include "update/RunContext.h"

namespace vestrel {

const std::string& fileServerBase() {
  return runContext().net.fileServer;
}

const char* caFile() {
  return VESTREL_CA_FILE;
}

}  // namespace vestrel
