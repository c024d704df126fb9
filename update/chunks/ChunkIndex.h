// A chunked file's index: its chunks in the file's order, each named by the SHA-256 of its
// bytes, with their length. The publisher writes it once per version of a file, under the
// SHA-256 of its own bytes, and the signed release names it by that digest and its size.
//
// Text, LF-ended lines:
//   vestrel-chunks 1
//   SIZE SHA256          one per chunk, in order; SIZE from 1 to kMaxChunk
//
// Chunks and indexes live beside the lists on the server:
//   .launcher/chunks/HH/SHA256        a chunk's bytes, compressed (update/chunks/ChunkCodec.h);
//                                     HH is its name's first two digits
//   .launcher/chunks/index/SHA256     an index
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/chunks/ChunkCutter.h"

namespace vestrel {

inline constexpr char kChunksFolder[] = ".launcher/chunks";
inline constexpr char kIndexFolder[] = ".launcher/chunks/index";

// The largest file a release may name, cut into the smallest chunks, each line at its
// longest: no index is longer.
inline constexpr std::size_t kMaxIndexBytes = std::size_t{72} << 20;

struct ChunkRef {
  std::uint64_t offset = 0;  // where its bytes start in the file
  std::size_t size = 0;
  std::string sha256;
};

struct ChunkIndex {
  std::vector<ChunkRef> chunks;
  std::uint64_t fileSize = 0;  // the sizes' sum
};

// Reads an index's bytes. False, with what is wrong in `why`, for anything but a whole index
// of this format.
bool readChunkIndex(std::string_view bytes, ChunkIndex& index, std::string& why);

// The index's bytes, as readChunkIndex reads them back.
std::string chunkIndexText(const ChunkIndex& index);

// Where a chunk or an index is kept, below the served tree: ".launcher/chunks/HH/SHA256" and
// ".launcher/chunks/index/SHA256".
std::string chunkPath(std::string_view sha256);
std::string indexPath(std::string_view sha256);

}  // namespace vestrel
