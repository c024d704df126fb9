// The connection, TLS-session and name cache that every transfer of a run shares, so that a
// transfer finds a connection its predecessor left open instead of paying for a new TCP and
// TLS handshake; and what the run has learnt of that connection.
#pragma once

#include <curl/curl.h>

#include <array>
#include <atomic>
#include <mutex>

namespace vestrel {

class SharedConnection {
 public:
  // Initialises libcurl for the run and makes the cache; without one, transfers do without.
  SharedConnection();
  // Only once no transfer of the run is left.
  ~SharedConnection();
  SharedConnection(const SharedConnection&) = delete;
  SharedConnection& operator=(const SharedConnection&) = delete;

  // What every transfer is given as CURLOPT_SHARE; nullptr when there is no cache.
  CURLSH* share() const { return share_; }

  // Takes note of a transfer that went through: whether its connection carries many
  // transfers side by side (HTTP/2 or later), and whether it goes to an IPv4 address.
  void note(CURL* easy);
  // Whether the server's last answer came over a multiplexed connection; false until a
  // transfer has ended.
  bool multiplexes() const { return multiplexed_; }
  // Whether the last transfer's connection went to an IPv4 address: a transfer that must reach
  // the host over IPv4 may then ride it instead of opening its own (libcurl does not reuse a
  // connection made for any address family for one restricted to IPv4).
  bool overIpv4() const { return ipv4_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void unlock(CURL*, curl_lock_data data, void* self);

  CURLSH* share_ = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
  std::atomic<bool> multiplexed_{false};
  std::atomic<bool> ipv4_{false};
};

}  // namespace vestrel
