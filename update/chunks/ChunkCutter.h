// Where a file is cut into chunks: content-defined cuts (a gear hash, with FastCDC's
// normalised chunking), so that bytes inserted or removed in one place move the cuts near them
// only, and the chunks elsewhere keep their bytes and so their names. The publisher and the
// installer must cut alike: the parameters and the gear table are part of the release format.
//
// The gear table is 256 outputs of splitmix64 from the state 0, in order. A cut falls after
// the byte at which the rolling hash fp = (fp << 1) + gear[byte], started afresh at each
// chunk's kMinChunk-th byte, has none of the mask's bits set: the stricter kSmallMask until
// the chunk is kAverageChunk long, the looser kLargeMask after, and at kMaxChunk at the latest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vestrel {

inline constexpr std::size_t kMinChunk = std::size_t{64} << 10;
inline constexpr std::size_t kAverageChunk = std::size_t{256} << 10;
inline constexpr std::size_t kMaxChunk = std::size_t{1} << 20;
// Files smaller than this are never chunked: they are fetched whole.
inline constexpr std::uint64_t kSmallestChunkedFile = std::uint64_t{1} << 20;
// 20 and 16 of the top bits: two more and two fewer than the average's 18.
inline constexpr std::uint64_t kSmallMask = 0xfffff00000000000ull;
inline constexpr std::uint64_t kLargeMask = 0xffff000000000000ull;

// The length of the next chunk of the `length` bytes at `data`: the rest of the file, or at
// least kMaxChunk of it.
std::size_t nextChunkLength(const unsigned char* data, std::size_t length);

}  // namespace vestrel
