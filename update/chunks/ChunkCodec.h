// How a chunk's bytes are stored on the server: one zstd frame that records its content size.
// A chunk is named by the SHA-256 of its uncompressed bytes, so whoever fetches it can check
// it whatever the compression made of it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

// The most a stored chunk may take: what zstd may make of the largest chunk at worst.
std::size_t packedChunkBound();

// Compresses a chunk's bytes into `packed`. False when zstd fails.
bool packChunk(const unsigned char* data, std::size_t size, std::string& packed);

// Decompresses a stored chunk that must hold exactly `size` bytes (at most kMaxChunk) into
// `bytes`. False for anything else: another length, a damaged frame, more than one frame.
bool unpackChunk(std::string_view packed, std::size_t size, std::vector<unsigned char>& bytes);

}  // namespace vestrel
