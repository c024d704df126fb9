#include "publish/Progress.h"

#include <unistd.h>

namespace vestrel::publish {
namespace {

// Redraws closer together than this only flicker.
constexpr std::chrono::milliseconds kRedrawInterval(100);

constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace

bool stderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

HashProgress::HashProgress(std::FILE* out, bool shown, std::size_t files, std::uintmax_t bytes)
    : out_(out), shown_(shown), files_(files), bytes_(bytes) {}

void HashProgress::addBytes(std::size_t bytes) {
  bytesDone_ += bytes;
  draw(false);
}

void HashProgress::fileDone() {
  ++filesDone_;
  draw(filesDone_ == files_);
}

void HashProgress::finish() {
  if (shown_ && drawnLength_ > 0) {
    std::fprintf(out_, "\r%*s\r", drawnLength_, "");
    std::fflush(out_);
    drawnLength_ = 0;
  }
}

void HashProgress::draw(bool now) {
  if (!shown_) {
    return;
  }
  const auto time = std::chrono::steady_clock::now();
  if (!now && drawnLength_ > 0 && time - lastDraw_ < kRedrawInterval) {
    return;
  }
  lastDraw_ = time;
  const int length =
      std::fprintf(out_, "\rhashing: %zu/%zu files, %.1f/%.1f MiB", filesDone_, files_,
                   static_cast<double>(bytesDone_) / kMiB, static_cast<double>(bytes_) / kMiB);
  // The carriage return is not part of what shows.
  if (length - 1 < drawnLength_) {
    std::fprintf(out_, "%*s", drawnLength_ - (length - 1), "");
  } else {
    drawnLength_ = length - 1;
  }
  std::fflush(out_);
}

}  // namespace vestrel::publish
