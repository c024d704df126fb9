// A pause that a stopping run cuts short, for the waits between tries.
#pragma once

#include <chrono>
#include <stop_token>

namespace vestrel {

// Waits for `pause`, or less when `stop` is requested: false then.
bool pauseUnlessStopped(std::stop_token stop, std::chrono::milliseconds pause);

}  // namespace vestrel
