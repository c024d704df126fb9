// How a chunk's bytes are stored on the server: one zstd frame that records its content size.
// A chunk is named by the SHA-256 of its uncompressed bytes, so whoever fetches it can check
// it whatever the compression made of it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "update/chunks/ChunkBytes.h"

namespace vestrel {

// The most a stored chunk may take: what zstd may make of the largest chunk at worst.
std::size_t packedChunkBound();

// Compresses a chunk's bytes into `packed`. False when zstd fails.
bool packChunk(const unsigned char* data, std::size_t size, std::string& packed);

// Decompresses a stored chunk that must hold exactly `size` bytes (at most kMaxChunk) into
// `bytes`. False for anything else: another length, a damaged frame, more than one frame.
bool unpackChunk(std::string_view packed, std::size_t size, ChunkBytes& bytes);

// Unpacks stored chunks as their bytes arrive, each straight into the room it will be written
// from: the packed bytes are never kept, and bytes stored as they are copied once. One chunk
// at a time; made once and started again for each.
class ChunkUnpacker {
 public:
  ChunkUnpacker();
  ~ChunkUnpacker();
  ChunkUnpacker(const ChunkUnpacker&) = delete;
  ChunkUnpacker& operator=(const ChunkUnpacker&) = delete;

  // Starts a chunk that must hold exactly `size` bytes (at most kMaxChunk), unpacked into
  // `room`, whatever it held.
  void start(std::size_t size, ChunkBytes room);
  // The next of its stored bytes. False once they cannot be that chunk: a damaged frame, more
  // bytes than it unpacks to or than a stored chunk may take, anything after its frame.
  bool add(const void* data, std::size_t length);
  // True when one whole frame gave exactly the chunk's size, which `bytes` then receives.
  bool finish(ChunkBytes& bytes);

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace vestrel
