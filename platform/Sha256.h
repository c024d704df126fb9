// SHA-256, which the signed release names every file and list by: MD5 alone cannot carry a
// signature's weight, since two different files can be made to share one MD5.
//
// Each system computes it with its own library, which uses the processor's SHA instructions
// where there are any, so that checking a download with both digests costs little more than
// with MD5 alone.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vestrel::platform {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Hashes `length` bytes at `data`; a zero length changes nothing.
  void add(const void* data, std::size_t length);
  // The digest of everything added, as 64 lowercase hex characters; the hasher then starts
  // again from nothing. Empty when the system could not hash at all.
  std::string finishText();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of a whole buffer.
std::string sha256Text(const void* data, std::size_t length);

}  // namespace vestrel::platform
