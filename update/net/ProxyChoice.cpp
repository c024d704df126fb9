#include "update/net/ProxyChoice.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace vestrel {
namespace {

std::vector<std::string_view> words(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find_first_of(separators, start), text.size());
    if (end > start) {
      out.push_back(text.substr(start, end - start));
    }
    start = end + 1;
  }
  return out;
}

char lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

// '*' stands for any run of characters, '?' for one; letters match in either case.
bool globMatches(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) {
    return text.empty();
  }
  if (pattern[0] == '*') {
    for (std::size_t skip = 0; skip <= text.size(); ++skip) {
      if (globMatches(pattern.substr(1), text.substr(skip))) {
        return true;
      }
    }
    return false;
  }
  return !text.empty() && (pattern[0] == '?' || lower(pattern[0]) == lower(text[0])) &&
         globMatches(pattern.substr(1), text.substr(1));
}

// The proxy for https among the system's entries, as libcurl names it; empty for none.
std::string chooseProxy(std::string_view proxies) {
  std::string_view forHttps, forAll, socks;
  for (std::string_view entry : words(proxies, "; \t\r\n")) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      forAll = forAll.empty() ? entry : forAll;
      continue;
    }
    const std::string_view scheme = entry.substr(0, equals);
    std::string_view& slot = sameText(scheme, "https") ? forHttps : socks;
    if (slot.empty() && (sameText(scheme, "https") || sameText(scheme, "socks"))) {
      slot = entry.substr(equals + 1);  // http= and ftp= entries are for other protocols
    }
  }
  const std::string_view chosen = !forHttps.empty() ? forHttps : !forAll.empty() ? forAll : socks;
  if (chosen.empty() || sameText(chosen, "DIRECT")) {
    return {};
  }
  if (chosen.find("://") != std::string_view::npos) {
    return std::string(chosen);
  }
  const bool viaSocks = forHttps.empty() && forAll.empty();
  return (viaSocks ? "socks4://" : "http://") + std::string(chosen);
}

// Whether `host` bypasses the proxy; the entries libcurl can follow itself (names, and
// domains as ".domain") are added to `noProxy` for the hosts a redirect may lead to.
bool bypassed(std::string_view bypass, std::string_view host, std::string& noProxy) {
  bool matched = false;
  for (std::string_view entry : words(bypass, ";, \t\r\n")) {
    if (const std::size_t scheme = entry.find("://"); scheme != std::string_view::npos) {
      entry.remove_prefix(scheme + 3);
    }
    if (entry == "<local>") {
      matched = matched || host.find_first_of(".:") == std::string_view::npos;
      continue;
    }
    matched = matched || globMatches(entry, host);
    std::string_view plain = entry;
    if (plain.substr(0, 2) == "*.") {
      plain.remove_prefix(1);
    }
    if (!plain.empty() && plain.find_first_of("*?") == std::string_view::npos) {
      noProxy += (noProxy.empty() ? "" : ",") + std::string(plain);
    }
  }
  return matched;
}

}  // namespace

ProxyChoice proxyChoiceFrom(const platform::SystemProxy& system, std::string_view host) {
  ProxyChoice choice;
  choice.system = system;
  if (!system.decided) {
    return choice;
  }
  choice.fromSystem = true;  // from here on, libcurl's environment rules no longer apply
  choice.proxy = chooseProxy(system.proxies);
  if (!choice.proxy.empty() && bypassed(system.bypass, host, choice.noProxy)) {
    choice.proxy.clear();
    choice.noProxy.clear();
  }
  return choice;
}

std::string hostOfUrl(std::string_view url) {
  if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos) {
    url.remove_prefix(scheme + 3);
  }
  url = url.substr(0, url.find_first_of("/?#"));
  if (const std::size_t at = url.rfind('@'); at != std::string_view::npos) {
    url.remove_prefix(at + 1);
  }
  if (!url.empty() && url[0] == '[') {
    return std::string(url.substr(1, url.find(']') - 1));
  }
  return std::string(url.substr(0, url.find(':')));
}

}  // namespace vestrel
