// A small body kept in memory (a chunk's index), refused past the size it may have.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "update/net/BodySink.h"

namespace vestrel {

class MemoryBody final : public BodySink {
 public:
  explicit MemoryBody(std::size_t limit) : limit_(limit) {}

  bool add(const char* data, std::size_t length) override {
    if (length > limit_ - bytes_.size()) {
      overLimit_ = true;
      return false;
    }
    bytes_.append(data, length);
    return true;
  }
  bool finish(int& error) override {
    error = 0;
    return true;
  }

  const std::string& bytes() const { return bytes_; }
  std::string take() { return std::move(bytes_); }
  bool overLimit() const { return overLimit_; }

 private:
  std::size_t limit_;
  std::string bytes_;
  bool overLimit_ = false;
};

}  // namespace vestrel
