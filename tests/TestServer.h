#pragma once

// Addresses of the HTTPS servers that tests/server/testserver runs on 127.0.0.1 while the
// suite runs. Each test puts its files in its own uniquely named folder under serverRoot().
//
//   httpsBase      the regular server: byte-exact files, 404 when missing, and
//                  redirect/PATH answering 301 to PATH
//   plainHttpBase  an https:// address on a port that speaks plain HTTP, so the TLS
//                  handshake fails
//   faultBase      the first request for drop/... gets half the body and a reset connection,
//                  the first for truncate/... gets half the body and a clean close; later
//                  requests, and every other path, are served normally
//   briefBase      the regular server's tree over HTTP/2 on connections that end after a few
//                  requests and carry only a few streams at once

#include <filesystem>
#include <string>

#if !defined(VESTREL_TEST_ENV_DIR) || !defined(VESTREL_TEST_HTTPS_PORT) ||   \
    !defined(VESTREL_TEST_HTTP_PORT) || !defined(VESTREL_TEST_FAULT_PORT) || \
    !defined(VESTREL_TEST_BRIEF_PORT)
#error "TestServer.h needs the VESTREL_TEST_* definitions from tests/CMakeLists.txt"
#endif

namespace vestrel::test {

inline std::filesystem::path serverEnvDir() {
  return VESTREL_TEST_ENV_DIR;
}

inline std::filesystem::path serverRoot() {
  return serverEnvDir() / "www";
}

inline std::string caFile() {
  return (serverEnvDir() / "ca.pem").string();
}

inline std::string httpsBase(const std::string& sub) {
  return "https://127.0.0.1:" + std::to_string(VESTREL_TEST_HTTPS_PORT) + "/" + sub;
}

inline std::string plainHttpBase(const std::string& sub) {
  return "https://127.0.0.1:" + std::to_string(VESTREL_TEST_HTTP_PORT) + "/" + sub;
}

inline std::string faultBase(const std::string& sub) {
  return "https://127.0.0.1:" + std::to_string(VESTREL_TEST_FAULT_PORT) + "/" + sub;
}

inline std::string briefBase(const std::string& sub) {
  return "https://127.0.0.1:" + std::to_string(VESTREL_TEST_BRIEF_PORT) + "/" + sub;
}

}  // namespace vestrel::test
