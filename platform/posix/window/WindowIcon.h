// The window icon, a PNG embedded in the program when it is built.
#pragma once

#include <cstddef>

namespace vestrel::platform {

extern const unsigned char kWindowIconPng[];
extern const std::size_t kWindowIconPngSize;

}  // namespace vestrel::platform
