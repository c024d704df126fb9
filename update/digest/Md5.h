// Streaming MD5, used to compare local files with the digests the file server lists.
//
// Feed bytes in any number of add() calls of any length; finishText() then gives the digest
// as the server writes it. The verification pass hashes every installed file on each run, so
// the compression step is written for speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vestrel {

class Md5 {
 public:
  Md5();

  // Forgets everything added so far.
  void start();

  // Hashes `length` bytes at `data`; a zero length changes nothing.
  void add(const void* data, std::size_t length);

  // Pads and finishes the message and returns its digest as exactly 32 lowercase hex
  // characters, high nibble first. Call start() before hashing another message.
  std::string finishText();

 private:
  static constexpr std::size_t kBlockSize = 64;

  // Compresses `count` whole blocks read straight from `blocks`.
  void compress(const unsigned char* blocks, std::size_t count);

  std::uint32_t words_[4];
  std::uint64_t compressedBytes_;  // bytes already folded into words_
  std::size_t waiting_;            // bytes held in block_, always below kBlockSize
  unsigned char block_[kBlockSize];
};

// Files are hashed in reads of this many bytes: whole blocks, so that every read but the
// last is compressed straight from the read buffer.
inline constexpr std::size_t kHashChunkSize = 1032192;  // 0xFC000
static_assert(kHashChunkSize % 64 == 0);

}  // namespace vestrel
