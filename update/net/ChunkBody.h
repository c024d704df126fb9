// A chunk's answer, unpacked as it arrives (update/chunks/ChunkCodec.h) instead of being kept
// whole and unpacked after: a large file's chunks then cost one copy of their bytes, not two.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include "update/chunks/ChunkCodec.h"
#include "update/net/BodySink.h"

namespace vestrel {

class ChunkBody final : public BodySink {
 public:
  // A chunk of `size` bytes, unpacked by `unpacker` into `room`.
  ChunkBody(std::unique_ptr<ChunkUnpacker> unpacker, std::size_t size, ChunkBytes room)
      : unpacker_(std::move(unpacker)) {
    unpacker_->start(size, std::move(room));
  }

  bool add(const char* data, std::size_t length) override {
    refused_ = refused_ || !unpacker_->add(data, length);
    return !refused_;
  }
  bool finish(int& error) override {
    error = 0;
    return true;
  }

  // Bytes arrived that cannot be the chunk.
  bool refused() const { return refused_; }
  // The chunk's bytes once the whole answer was one; false otherwise.
  bool take(ChunkBytes& bytes) { return unpacker_->finish(bytes); }
  // The unpacker, to be started again for another chunk.
  std::unique_ptr<ChunkUnpacker> giveBack() { return std::move(unpacker_); }

 private:
  std::unique_ptr<ChunkUnpacker> unpacker_;
  bool refused_ = false;
};

}  // namespace vestrel
