// Linked into the tests' HTTP/1.1 program only: the same installer, downloading from the test
// server's port that speaks no HTTP/2 (VESTREL_HTTP1_FILE_SERVER). The address is set while
// static objects are made, before the program's first transfer.
#include "update/net/FileServer.h"

namespace {

const bool kServerSet = [] {
  vestrel::setFileServerBase(VESTREL_HTTP1_FILE_SERVER);
  return true;
}();

}  // namespace
