// Compiled into each program with the keys it trusts (VESTREL_PUBLISHER_KEYS_TEXT), so that
// one build can make a plain and a keyed program from the same core.
#include "update/PublisherKeys.h"

namespace vestrel {

std::vector<std::string> builtInPublisherKeys() {
  return decodePublisherKeys(VESTREL_PUBLISHER_KEYS_TEXT);
}

}  // namespace vestrel
