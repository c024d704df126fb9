#include "update/chunks/ChunkCodec.h"

#include <zstd.h>

#include "update/chunks/ChunkCutter.h"

namespace vestrel {
namespace {

// Fast enough to keep up with hashing on the publisher's side; chunks of random bytes are
// stored as they are by zstd itself.
constexpr int kLevel = 3;

}  // namespace

std::size_t packedChunkBound() {
  return ZSTD_compressBound(kMaxChunk);
}

bool packChunk(const unsigned char* data, std::size_t size, std::string& packed) {
  packed.resize(ZSTD_compressBound(size));
  const std::size_t written = ZSTD_compress(packed.data(), packed.size(), data, size, kLevel);
  if (ZSTD_isError(written) != 0) {
    return false;
  }
  packed.resize(written);
  return true;
}

bool unpackChunk(std::string_view packed, std::size_t size, std::vector<unsigned char>& bytes) {
  if (size == 0 || size > kMaxChunk || packed.size() > packedChunkBound() ||
      ZSTD_findFrameCompressedSize(packed.data(), packed.size()) != packed.size() ||
      ZSTD_getFrameContentSize(packed.data(), packed.size()) != size) {
    return false;
  }
  bytes.resize(size);
  const std::size_t written = ZSTD_decompress(bytes.data(), size, packed.data(), packed.size());
  return ZSTD_isError(written) == 0 && written == size;
}

}  // namespace vestrel
