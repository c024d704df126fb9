#include "update/net/FileServer.h"

#include "BuildConfig.h"

namespace vestrel {
namespace {

std::string& base() {
  static std::string value = VESTREL_FILE_SERVER;
  return value;
}

}  // namespace

const std::string& fileServerBase() {
  return base();
}

void setFileServerBase(const std::string& value) {
  base() = value;
}

const char* caFile() {
  return VESTREL_CA_FILE;
}

}  // namespace vestrel
