#include "update/PublisherKeys.h"

#include "update/RunContext.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel {

std::vector<std::string> decodePublisherKeys(std::string_view text) {
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

const std::vector<std::string>& publisherKeys() {
  return runContext().publisherKeys;
}

}  // namespace vestrel
