// Digests as the lists, the release and the chunk store write them: lowercase hex.
#pragma once

#include <cstddef>
#include <string_view>

namespace vestrel {

// Whether `text` is `length` lowercase hex digits.
constexpr bool isLowerHex(std::string_view text, std::size_t length) {
  if (text.size() != length) {
    return false;
  }
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

}  // namespace vestrel
