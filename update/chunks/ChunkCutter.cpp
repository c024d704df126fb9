#include "update/chunks/ChunkCutter.h"

#include <array>

namespace vestrel {
namespace {

constexpr std::array<std::uint64_t, 256> makeGear() {
  std::array<std::uint64_t, 256> gear{};
  std::uint64_t state = 0;
  for (std::uint64_t& value : gear) {
    state += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    value = z ^ (z >> 31);
  }
  return gear;
}

constexpr std::array<std::uint64_t, 256> kGear = makeGear();

}  // namespace

std::size_t nextChunkLength(const unsigned char* data, std::size_t length) {
  if (length <= kMinChunk) {
    return length;
  }
  const std::size_t most = length < kMaxChunk ? length : kMaxChunk;
  const std::size_t normal = most < kAverageChunk ? most : kAverageChunk;
  std::uint64_t fp = 0;
  std::size_t i = kMinChunk;
  for (; i < normal; ++i) {
    fp = (fp << 1) + kGear[data[i]];
    if ((fp & kSmallMask) == 0) {
      return i + 1;
    }
  }
  for (; i < most; ++i) {
    fp = (fp << 1) + kGear[data[i]];
    if ((fp & kLargeMask) == 0) {
      return i + 1;
    }
  }
  return most;
}

}  // namespace vestrel
