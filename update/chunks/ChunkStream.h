// Cuts a file into chunks as its bytes go by (update/chunks/ChunkCutter.h), for whoever reads
// the file in order anyway: the publisher as it stores the chunks, the installer as it hashes
// an old version for the chunks it already holds. At most kMaxChunk bytes and one read wait
// for their cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vestrel {

class ChunkStream {
 public:
  // Hears of each chunk once its bytes are known: where it starts in the file, and its bytes
  // (valid only during the call).
  using OnChunk =
      std::function<void(std::uint64_t offset, const unsigned char* data, std::size_t size)>;

  explicit ChunkStream(OnChunk onChunk) : onChunk_(std::move(onChunk)) {}

  // The file's next bytes.
  void add(const void* data, std::size_t size);
  // The file has ended: its last chunks are cut.
  void finish();

 private:
  void cut(bool atEnd);

  OnChunk onChunk_;
  std::vector<unsigned char> waiting_;
  std::uint64_t offset_ = 0;  // of waiting_'s first byte in the file
};

}  // namespace vestrel
