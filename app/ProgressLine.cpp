#include "app/ProgressLine.h"

#include "support/FormatText.h"
#include "support/Texts.h"
#include "update/InstallState.h"

namespace vestrel {

ProgressFigures progressFigures(const InstallState& state) {
  return {.stage = state.stage,
          .filesToCheck = state.filesToCheck,
          .filesChecked = state.filesChecked,
          .bytesToFetch = state.bytesToFetch,
          .bytesFetched = state.bytesFetched,
          .bytesPerSecond = state.bytesPerSecond,
          .secondsLeft = state.secondsLeft};
}

std::string groupedCount(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) {
    digits.insert(at - 3, 1, ' ');
  }
  return digits;
}

std::string megabytes(std::uint64_t bytes) {
  const std::uint64_t tenths = (bytes * 10 + (std::uint64_t{1} << 19)) >> 20;
  return formatted(text::kMegabytes,
                   (std::to_string(tenths / 10) + "," + std::to_string(tenths % 10)).c_str());
}

std::string duration(int seconds) {
  if (seconds >= 3600) {
    return formatted(text::kHoursMinutes, seconds / 3600, seconds % 3600 / 60);
  }
  if (seconds >= 60) {
    return formatted(text::kMinutesSeconds, seconds / 60, seconds % 60);
  }
  return formatted(text::kSeconds, seconds);
}

std::string progressLine(const ProgressFigures& figures) {
  if (figures.stage == RunStage::Verifying && figures.filesToCheck > 0) {
    return formatted(text::kCheckProgress,
                     groupedCount(static_cast<std::uint64_t>(figures.filesChecked)).c_str(),
                     groupedCount(static_cast<std::uint64_t>(figures.filesToCheck)).c_str());
  }
  if (figures.stage != RunStage::Downloading || figures.bytesToFetch == 0) {
    return {};
  }
  std::string line =
      formatted(text::kDownloadProgress, megabytes(figures.bytesFetched).c_str(),
                megabytes(figures.bytesToFetch).c_str(), megabytes(figures.bytesPerSecond).c_str());
  if (figures.secondsLeft >= 0) {
    line += formatted(text::kTimeLeft, duration(figures.secondsLeft).c_str());
  }
  return line;
}

}  // namespace vestrel
