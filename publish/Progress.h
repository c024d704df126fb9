// The progress line shown while files are hashed, on a terminal only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vestrel::publish {

// True when standard error is a terminal, where a line that redraws itself is welcome; in a
// log or a pipe it would only be noise.
bool stderrIsTerminal();

class HashProgress {
 public:
  // Draws on `out` only when `shown`; `files` and `bytes` are the totals to be hashed.
  HashProgress(std::FILE* out, bool shown, std::size_t files, std::uintmax_t bytes);
  ~HashProgress() { finish(); }
  HashProgress(const HashProgress&) = delete;
  HashProgress& operator=(const HashProgress&) = delete;

  void addBytes(std::size_t bytes);
  void fileDone();
  // Wipes the line, so that what follows starts on a clean one.
  void finish();

 private:
  void draw(bool now);

  std::FILE* out_;
  bool shown_;
  std::size_t files_;
  std::uintmax_t bytes_;
  std::size_t filesDone_ = 0;
  std::uintmax_t bytesDone_ = 0;
  int drawnLength_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace vestrel::publish
