#include "update/net/ProxyChoice.h"

#include <gtest/gtest.h>

namespace vestrel {
namespace {

platform::SystemProxy decided(const char* proxies, const char* bypass = "") {
  platform::SystemProxy system;
  system.decided = true;
  system.proxies = proxies;
  system.bypass = bypass;
  return system;
}

// The system's notation in libcurl's terms, as every transfer gets it.
TEST(ProxyChoiceTest, SystemAnswersBecomeLibcurlsProxyAndBypassList) {
  // No settings of the system's own: libcurl's rules stay, nothing is set.
  EXPECT_FALSE(proxyChoiceFrom({}, "files.example.org").fromSystem);

  const struct {
    const char* proxies;
    const char* bypass;
    const char* host;
    const char* proxy;
    const char* noProxy;
  } cases[] = {
      {"", "", "files.example.org", "", ""},  // settings that name no proxy: direct
      {"DIRECT", "", "files.example.org", "", ""},
      {"proxy.lan:3128", "", "files.example.org", "http://proxy.lan:3128", ""},
      // Per-protocol entries: the https one, else the one for all, else SOCKS; http= is not ours.
      {"http=h:1;https=s:2", "", "files.example.org", "http://s:2", ""},
      {"http=h:1 ftp=f:3", "", "files.example.org", "", ""},
      {"http=h:1;all:4", "", "files.example.org", "http://all:4", ""},
      {"socks=k:1080", "", "files.example.org", "socks4://k:1080", ""},
      {"https=https://s:2", "", "files.example.org", "https://s:2", ""},
      // Bypass entries libcurl can follow go to it; "*.domain" becomes ".domain".
      {"p:8080", "*.intranet; 10.0.0.1,localhost", "files.example.org", "http://p:8080",
       ".intranet,10.0.0.1,localhost"},
      // Entries it cannot follow are judged here against the file server's host.
      {"p:8080", "<local>", "fileserver", "", ""},
      {"p:8080", "<local>", "files.example.org", "http://p:8080", ""},
      {"p:8080", "FILES.*.ORG", "files.example.org", "", ""},
      {"p:8080", "*", "files.example.org", "", ""},
      {"p:8080", "http://*.example.org", "files.example.org", "", ""},
  };
  for (const auto& c : cases) {
    const ProxyChoice choice = proxyChoiceFrom(decided(c.proxies, c.bypass), c.host);
    EXPECT_TRUE(choice.fromSystem) << c.proxies;
    EXPECT_EQ(choice.proxy, c.proxy) << c.proxies << " / " << c.bypass;
    EXPECT_EQ(choice.noProxy, c.noProxy) << c.proxies << " / " << c.bypass;
  }

  EXPECT_EQ(hostOfUrl("https://files.example.org:8443/launcher"), "files.example.org");
  EXPECT_EQ(hostOfUrl("https://user@[::1]:18443/x"), "::1");
  EXPECT_EQ(hostOfUrl("https://localhost"), "localhost");
}

}  // namespace
}  // namespace vestrel
