#include "update/chunks/ChunkCodec.h"

// For the decompressor's writing straight into the caller's room.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "update/chunks/ChunkCutter.h"

namespace vestrel {
namespace {

// Fast enough to keep up with hashing on the publisher's side; chunks of random bytes are
// stored as they are by zstd itself.
constexpr int kLevel = 3;

// Makes `bytes` exactly `size` long, its contents whatever they were.
void makeRoom(ChunkBytes& bytes, std::size_t size) {
  if (bytes.capacity() < size) {
    bytes.clear();  // what it held is not to be copied into larger room
  }
  bytes.resize(size);
}

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

bool unpackChunk(std::string_view packed, std::size_t size, ChunkBytes& bytes) {
  if (size == 0 || size > kMaxChunk || packed.size() > packedChunkBound() ||
      ZSTD_findFrameCompressedSize(packed.data(), packed.size()) != packed.size() ||
      ZSTD_getFrameContentSize(packed.data(), packed.size()) != size) {
    return false;
  }
  makeRoom(bytes, size);
  const std::size_t written = ZSTD_decompress(bytes.data(), size, packed.data(), packed.size());
  return ZSTD_isError(written) == 0 && written == size;
}

struct ChunkUnpacker::Context {
  ZSTD_DCtx* zstd = ZSTD_createDCtx();
  ChunkBytes bytes;
  ZSTD_outBuffer out{};
  std::size_t packed = 0;
  bool ok = false;
  bool ended = false;  // its frame is whole

  ~Context() { ZSTD_freeDCtx(zstd); }
};

ChunkUnpacker::ChunkUnpacker() : context_(std::make_unique<Context>()) {}
ChunkUnpacker::~ChunkUnpacker() = default;

void ChunkUnpacker::start(std::size_t size, ChunkBytes room) {
  Context& c = *context_;
  c.bytes = std::move(room);
  makeRoom(c.bytes, size);
  c.out = {c.bytes.data(), size, 0};
  c.packed = 0;
  c.ended = false;
  c.ok = c.zstd != nullptr && size > 0 && size <= kMaxChunk &&
         ZSTD_isError(ZSTD_DCtx_reset(c.zstd, ZSTD_reset_session_only)) == 0 &&
         ZSTD_isError(ZSTD_DCtx_setParameter(c.zstd, ZSTD_d_stableOutBuffer, 1)) == 0;
}

bool ChunkUnpacker::add(const void* data, std::size_t length) {
  Context& c = *context_;
  c.packed += length;
  if (c.packed > packedChunkBound() || (c.ended && length > 0)) {
    c.ok = false;
  }
  ZSTD_inBuffer in{data, length, 0};
  while (c.ok && in.pos < in.size) {
    const std::size_t taken = in.pos;
    const std::size_t made = c.out.pos;
    const std::size_t next = ZSTD_decompressStream(c.zstd, &c.out, &in);
    c.ended = next == 0;
    // Bytes left over once the frame is whole, or none taken and none made, are not the chunk.
    c.ok = ZSTD_isError(next) == 0 && !(c.ended && in.pos < in.size) &&
           (in.pos > taken || c.out.pos > made);
  }
  return c.ok;
}

bool ChunkUnpacker::finish(ChunkBytes& bytes) {
  Context& c = *context_;
  if (!c.ok || !c.ended || c.out.pos != c.bytes.size()) {
    return false;
  }
  bytes = std::move(c.bytes);
  c.ok = false;
  return true;
}

}  // namespace vestrel
