#include "update/net/DownloadMeter.h"

#include <algorithm>
#include <cmath>

namespace vestrel {

namespace {

// The window keeps a sample this often at most, however often the loop reports.
constexpr std::chrono::milliseconds kSampleSpacing{100};

}  // namespace

void SpeedMeter::sample(std::uint64_t fetched, Clock::time_point now) {
  if (fetched > 0 && firstBytes_ == Clock::time_point{}) {
    firstBytes_ = now;
  }
  latest_ = {now, fetched};
  if (samples_.empty() || now - samples_.back().first >= kSampleSpacing) {
    samples_.push_back(latest_);
  }
  // One sample older than the window stays, as the window's start.
  while (samples_.size() > 2 && now - samples_[1].first >= kSpeedWindow) {
    samples_.pop_front();
  }
}

std::uint64_t SpeedMeter::bytesPerSecond() const {
  if (samples_.empty()) {
    return 0;
  }
  const auto& [since, from] = samples_.front();
  const auto& [now, to] = latest_;
  const double seconds = std::chrono::duration<double>(now - since).count();
  // A failed attempt gives its bytes back: the speed is then nothing, never less.
  return seconds > 0 && to > from ? static_cast<std::uint64_t>((to - from) / seconds) : 0;
}

int SpeedMeter::secondsLeft(std::uint64_t remaining) const {
  const std::uint64_t speed = bytesPerSecond();
  if (speed == 0 || firstBytes_ == Clock::time_point{} ||
      latest_.first - firstBytes_ < kTimeLeftAfter) {
    return -1;
  }
  return static_cast<int>(std::min<double>(std::ceil(static_cast<double>(remaining) / speed), 1e9));
}

std::uint64_t expectedBytes(std::uint64_t knownBytes, std::size_t knownFiles,
                            std::size_t unknownFiles) {
  return knownFiles == 0 ? knownBytes : knownBytes + knownBytes / knownFiles * unknownFiles;
}

int downloadProgressPermille(std::uint64_t expected, std::uint64_t fetched, bool allIn) {
  if (allIn) {
    return 1000;
  }
  if (expected == 0) {
    return 0;
  }
  const double share = static_cast<double>(std::min(fetched, expected)) / expected;
  return std::clamp(static_cast<int>(share * 1000), 0, 999);
}

}  // namespace vestrel
