// Compiled into each program with the keys it trusts (VESTREL_PUBLISHER_KEYS_TEXT), so that
// one build can make a plain and a keyed program from the same core.
#include "update/PublisherKeys.h"

#include <optional>
#include <string_view>

#include "update/lists/ReleaseSignature.h"

namespace vestrel {
namespace {

// A key that does not decode is kept as bytes no signature can match, so that a build with
// a mistyped key refuses every release instead of trusting the lists unsigned.
std::vector<std::string> decodeKeys(std::string_view text) {
  std::vector<std::string> keys;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string key;
    if (!decodePublicKey(text.substr(0, comma), key)) {
      key = "?";
    }
    keys.push_back(std::move(key));
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
  }
  return keys;
}

std::optional<std::vector<std::string>> g_testKeys;

}  // namespace

const std::vector<std::string>& publisherKeys() {
  static const std::vector<std::string> builtIn = decodeKeys(VESTREL_PUBLISHER_KEYS_TEXT);
  return g_testKeys.has_value() ? *g_testKeys : builtIn;
}

void setPublisherKeysForTesting(const char* commaSeparated) {
  if (commaSeparated == nullptr) {
    g_testKeys.reset();
  } else {
    g_testKeys = decodeKeys(commaSeparated);
  }
}

}  // namespace vestrel
