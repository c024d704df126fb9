#include "update/chunks/ChunkIndex.h"

#include <charconv>

#include "support/HexText.h"

namespace vestrel {
namespace {

constexpr std::string_view kHeader = "vestrel-chunks 1";

}  // namespace

bool readChunkIndex(std::string_view bytes, ChunkIndex& index, std::string& why) {
  index = {};
  if (bytes.size() > kMaxIndexBytes) {
    why = "larger than an index may be";
    return false;
  }
  if (!bytes.starts_with(kHeader) || bytes.size() == kHeader.size() ||
      bytes[kHeader.size()] != '\n') {
    why = "not a chunk index of format 1";
    return false;
  }
  std::string_view rest = bytes.substr(kHeader.size() + 1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
      why = "the last line has no line end";
      return false;
    }
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const std::size_t space = line.find(' ');
    ChunkRef chunk;
    const std::string_view size = line.substr(0, space == std::string_view::npos ? 0 : space);
    const auto [stop, error] = std::from_chars(size.data(), size.data() + size.size(), chunk.size);
    if (space == std::string_view::npos || error != std::errc() ||
        stop != size.data() + size.size() || size[0] == '0' || chunk.size > kMaxChunk ||
        !isLowerHex(line.substr(space + 1), 64)) {
      why = "a line is not SIZE SHA256";
      return false;
    }
    chunk.offset = index.fileSize;
    chunk.sha256 = std::string(line.substr(space + 1));
    index.fileSize += chunk.size;
    index.chunks.push_back(std::move(chunk));
  }
  if (index.chunks.empty()) {
    why = "no chunks";
    return false;
  }
  return true;
}

std::string chunkIndexText(const ChunkIndex& index) {
  std::string text = std::string(kHeader) + "\n";
  for (const ChunkRef& chunk : index.chunks) {
    text += std::to_string(chunk.size) + " " + chunk.sha256 + "\n";
  }
  return text;
}

std::string chunkPath(std::string_view sha256) {
  return std::string(kChunksFolder) + "/" + std::string(sha256.substr(0, 2)) + "/" +
         std::string(sha256);
}

std::string indexPath(std::string_view sha256) {
  return std::string(kIndexFolder) + "/" + std::string(sha256);
}

}  // namespace vestrel
