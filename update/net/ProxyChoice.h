// The proxy that every transfer of a run uses, in libcurl's terms, from what the system's own
// settings say (update/net/ProxyLookup.h asks the system).
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace vestrel {

struct ProxyChoice {
  // False: the system leaves it to libcurl's own rules, and no transfer is told otherwise.
  bool fromSystem = false;
  std::string proxy;             // for CURLOPT_PROXY: "scheme://host:port", empty for none
  std::string noProxy;           // for CURLOPT_NOPROXY: the bypass entries libcurl can follow
  platform::SystemProxy system;  // what the system said, for the log
};

// The system's answer in libcurl's terms, for transfers to `host` (the file server's): the
// entry for https, else the one for every protocol, else a SOCKS one. Bypass entries that
// libcurl cannot express ("<local>", inner wildcards) are judged here against `host`.
ProxyChoice proxyChoiceFrom(const platform::SystemProxy& system, std::string_view host);

// The host part of an https address ("files.example.org" of "https://files.example.org:8443/x").
std::string hostOfUrl(std::string_view url);

}  // namespace vestrel
