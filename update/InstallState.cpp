#include "update/InstallState.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

InstallState& installState() {
  static InstallState state;
  return state;
}

void resetInstallState(InstallState& state) {
  std::memset(state.installRoot, 0, sizeof state.installRoot);
  state.launcherPath.clear();
  state.pathKnown = false;
  state.screenMode = kScreenUpdate;
  state.verifyRequested = false;
  state.verified = false;
  state.busy = 0;
  state.downloadDone = 0;
  state.pendingCount = 0;
  state.digestCount = 0;
  for (std::string& slot : state.fileQueue) {
    slot.clear();
  }
  for (std::string& slot : state.digestList) {
    slot.clear();
  }
}

bool setInstallRoot(InstallState& state, std::string_view root) {
  if (root.size() >= kPathBufferSize || root.find('\0') != std::string_view::npos) {
    return false;
  }
  std::memset(state.installRoot, 0, sizeof state.installRoot);
  std::memcpy(state.installRoot, root.data(), root.size());
  return true;
}

bool queuePush(InstallState& state, std::string path) {
  const int slot = state.pendingCount.load();
  if (slot < 0 || slot >= QueueCapacity) {
    return false;
  }
  state.fileQueue[static_cast<std::size_t>(slot)] = std::move(path);
  state.pendingCount = slot + 1;
  return true;
}

bool digestPush(InstallState& state, std::string digest) {
  const int slot = state.digestCount.load();
  if (slot < 0 || slot >= QueueCapacity) {
    return false;
  }
  state.digestList[static_cast<std::size_t>(slot)] = std::move(digest);
  state.digestCount = slot + 1;
  return true;
}

bool queueContains(const InstallState& state, std::string_view path) {
  return std::any_of(state.fileQueue.begin(), state.fileQueue.end(),
                     [path](const std::string& slot) { return slot == path; });
}

void compactQueue(InstallState& state) {
  // std::string compares its bytes as unsigned char (char_traits<char>::lt), which is the
  // order wanted here; empty slots are moved behind every path.
  std::sort(state.fileQueue.begin(), state.fileQueue.end(),
            [](const std::string& a, const std::string& b) {
              if (a.empty() || b.empty()) {
                return !a.empty() && b.empty();
              }
              return a < b;
            });
}

}  // namespace vestrel
