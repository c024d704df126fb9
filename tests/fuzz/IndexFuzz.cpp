// Feeds arbitrary bytes, as a hostile file server could send them, through the chunk index
// reader, and traps on any broken promise: a refusal says why; an accepted index is exactly
// what the writer writes for what was read, its chunks lie end to end within their size
// limits, and nothing shorter is accepted.
//
// Input layout: the whole input is the index.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "update/chunks/ChunkIndex.h"

#define CHECK(cond)                                                                         \
  do {                                                                                      \
    if (!(cond)) {                                                                          \
      std::fprintf(stderr, "index fuzz invariant broken: %s (line %d)\n", #cond, __LINE__); \
      __builtin_trap();                                                                     \
    }                                                                                       \
  } while (false)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vestrel::ChunkIndex index;
  std::string why;
  if (!vestrel::readChunkIndex(bytes, index, why)) {
    CHECK(!why.empty());
    return 0;
  }
  CHECK(!index.chunks.empty());
  std::uint64_t offset = 0;
  for (const vestrel::ChunkRef& chunk : index.chunks) {
    CHECK(chunk.offset == offset);
    CHECK(chunk.size >= 1 && chunk.size <= vestrel::kMaxChunk);
    CHECK(chunk.sha256.size() == 64 &&
          chunk.sha256.find_first_not_of("0123456789abcdef") == std::string::npos);
    offset += chunk.size;
  }
  CHECK(offset == index.fileSize);
  CHECK(vestrel::chunkIndexText(index) == bytes);
  vestrel::ChunkIndex shorter;
  CHECK(!vestrel::readChunkIndex(bytes.substr(0, bytes.size() - 1), shorter, why));
  return 0;
}
