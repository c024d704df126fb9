// A list's body on its way to its file. A list is read whole, so its size is bounded: a body
// that would pass kMaxListBytes (update/lists/ListRules.h) is refused before a byte past the limit
// is written, and the refusal is remembered for the report (update/lists/ListRefusal.h).
#pragma once

#include <cstddef>
#include <cstdio>

#include "update/net/BodySink.h"

namespace vestrel {

class ListBodyWriter final : public BodySink {
 public:
  // Writes to `file`, which the caller opens, flushes and closes.
  explicit ListBodyWriter(std::FILE* file) : file_(file) {}
  ListBodyWriter(const ListBodyWriter&) = delete;
  ListBodyWriter& operator=(const ListBodyWriter&) = delete;

  // Writes the bytes straight to the file. False past the limit or on a short write.
  bool add(const char* data, std::size_t length) override;
  // Always true: a short write has already refused its bytes, and what is still buffered is
  // judged by the caller's flush and close.
  bool finish(int& error) override;

  // The body was refused for passing the limit.
  bool overLimit() const { return overLimit_; }

 private:
  std::FILE* file_;
  std::size_t received_ = 0;
  bool overLimit_ = false;
};

}  // namespace vestrel
