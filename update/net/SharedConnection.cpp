#include "update/net/SharedConnection.h"

#include <string_view>

namespace vestrel {

SharedConnection::SharedConnection() {
  // libcurl's global set-up is counted: each context takes it once and gives it back.
  curl_global_init(CURL_GLOBAL_DEFAULT);
  share_ = curl_share_init();
  if (share_ == nullptr) {
    return;
  }
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedConnection::lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedConnection::unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

SharedConnection::~SharedConnection() {
  curl_share_cleanup(share_);
  curl_global_cleanup();
}

void SharedConnection::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<SharedConnection*>(self)->locks_[static_cast<std::size_t>(data)].lock();
}

void SharedConnection::unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<SharedConnection*>(self)->locks_[static_cast<std::size_t>(data)].unlock();
}

void SharedConnection::note(CURL* easy) {
  long version = CURL_HTTP_VERSION_NONE;
  if (curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version) == CURLE_OK) {
    multiplexed_ = version >= CURL_HTTP_VERSION_2_0;
  }
  const char* address = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &address) == CURLE_OK && address != nullptr) {
    ipv4_ = std::string_view(address).find(':') == std::string_view::npos;
  }
}

}  // namespace vestrel
