// What the download's progress is, in bytes and time: the share of the bytes fetched, the
// speed over the last few seconds and the time left at that speed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

namespace vestrel {

// The speed is what arrived over this long, and the time left is said only once this much
// of the download has been seen, so that neither jumps about at the start.
inline constexpr std::chrono::seconds kSpeedWindow{5};
inline constexpr std::chrono::seconds kTimeLeftAfter{2};

class SpeedMeter {
 public:
  using Clock = std::chrono::steady_clock;
  // `fetched` bytes in all at `now`.
  void sample(std::uint64_t fetched, Clock::time_point now);
  std::uint64_t bytesPerSecond() const;
  // Seconds until `remaining` bytes are in at the current speed; -1 until kTimeLeftAfter of
  // data are in, or while nothing arrives.
  int secondsLeft(std::uint64_t remaining) const;

 private:
  std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
  std::pair<Clock::time_point, std::uint64_t> latest_{};
  Clock::time_point firstBytes_{};
};

// The bytes a download is expected to take: `knownBytes` for the `knownFiles` whose length is
// known, and each of `unknownFiles` more at their average (none while no length is known).
std::uint64_t expectedBytes(std::uint64_t knownBytes, std::size_t knownFiles,
                            std::size_t unknownFiles);

// The bar's fill in thousandths for `fetched` of `expected` bytes: never full before every
// file is in (`allIn`), always full once it is.
int downloadProgressPermille(std::uint64_t expected, std::uint64_t fetched, bool allIn);

}  // namespace vestrel
