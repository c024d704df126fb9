#include "update/chunks/ChunkStream.h"

#include "update/chunks/ChunkCutter.h"

namespace vestrel {

void ChunkStream::add(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  waiting_.insert(waiting_.end(), bytes, bytes + size);
  cut(false);
}

void ChunkStream::finish() {
  cut(true);
}

// Cuts every chunk whose end is sure: with kMaxChunk bytes after its start, or at the end.
void ChunkStream::cut(bool atEnd) {
  std::size_t start = 0;
  while (waiting_.size() - start >= kMaxChunk || (atEnd && start < waiting_.size())) {
    const std::size_t size = nextChunkLength(waiting_.data() + start, waiting_.size() - start);
    onChunk_(offset_, waiting_.data() + start, size);
    offset_ += size;
    start += size;
  }
  waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(start));
}

}  // namespace vestrel
