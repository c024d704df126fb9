#include "support/HeldFiles.h"

#include <algorithm>
#include <cerrno>

#include "platform/Platform.h"
#include "support/Log.h"
#include "support/Pause.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

constexpr std::chrono::milliseconds kFirstPause{50};
constexpr std::chrono::milliseconds kLongestPause{2000};

// Runs `operation` (true: done) until it is done, fails otherwise than by a hold, the hold
// has lasted kLongestHold, or the run stops.
template <typename Operation>
bool whenFree(const std::string& path, int& error, std::stop_token stop, Operation operation) {
  const auto giveUp = std::chrono::steady_clock::now() + kLongestHold;
  std::chrono::milliseconds pause = kFirstPause;
  for (bool told = false;; pause = std::min(pause * 2, kLongestPause)) {
    if (operation()) {
      return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!platform::heldByAnotherProgram(error) || now >= giveUp || stop.stop_requested()) {
      return false;
    }
    if (!told) {
      told = true;
      logLine(text::kFileHeld, path.c_str());
    }
    pauseUnlessStopped(stop,
                       std::min(pause, std::chrono::ceil<std::chrono::milliseconds>(giveUp - now)));
  }
}

}  // namespace

bool replaceWhenFree(const std::string& from, const std::string& to, int& error,
                     std::stop_token stop) {
  return whenFree(to, error, std::move(stop),
                  [&] { return platform::replaceFile(from, to, error); });
}

bool removeWhenFree(const std::string& path, int& error, std::stop_token stop) {
  return whenFree(path, error, std::move(stop),
                  [&] { return platform::removeFile(path, error) || error == ENOENT; });
}

}  // namespace vestrel
