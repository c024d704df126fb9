// The line of text centred above the full layout's bar: how far the check has come, then how
// far the download has, how fast it goes and how long it has left.
#pragma once

#include <cstdint>
#include <string>

#include "update/RunStage.h"

namespace vestrel {

struct InstallState;

// The figures the line is made of, read from the run's state at once.
struct ProgressFigures {
  RunStage stage = RunStage::Choosing;
  int filesToCheck = 0;
  int filesChecked = 0;
  std::uint64_t bytesToFetch = 0;
  std::uint64_t bytesFetched = 0;
  std::uint64_t bytesPerSecond = 0;
  int secondsLeft = -1;
};
ProgressFigures progressFigures(const InstallState& state);

// The line (UTF-8), or empty where there is nothing to say yet.
std::string progressLine(const ProgressFigures& figures);

// "20 000": a count with its thousands apart.
std::string groupedCount(std::uint64_t count);
// "123,4 МБ": bytes in mebibytes, one decimal after a comma.
std::string megabytes(std::uint64_t bytes);
// "1 мин 40 с", "40 с", "2 ч 5 мин".
std::string duration(int seconds);

}  // namespace vestrel
