#include "support/Pause.h"

#include <condition_variable>
#include <mutex>

namespace vestrel {

bool pauseUnlessStopped(std::stop_token stop, std::chrono::milliseconds pause) {
  std::mutex mutex;
  std::condition_variable_any woken;
  std::unique_lock<std::mutex> lock(mutex);
  woken.wait_for(lock, stop, pause, [] { return false; });
  return !stop.stop_requested();
}

}  // namespace vestrel
