#include "update/InstallState.h"

#include "support/LocalPaths.h"
#include "update/lists/ReleaseFile.h"

#include <algorithm>

namespace vestrel {

const ReleasedFile* releasedFile(const InstallState& state, std::string_view path) {
  if (state.release == nullptr) {
    return nullptr;
  }
  const auto found = state.release->files.find(path);
  return found != state.release->files.end() ? &found->second : nullptr;
}

bool installFolderFits(std::string_view folder) {
  return folder.size() < kPathBufferSize && folder.find('\0') == std::string_view::npos;
}

bool setInstallFolder(InstallState& state, std::string_view folder) {
  if (!installFolderFits(folder)) {
    return false;
  }
  state.installFolder = folder;
  return true;
}

namespace {

// Stores `value` in the slot `count` names and counts it; never past the last slot.
bool push(std::array<std::string, QueueCapacity>& slots, std::atomic<int>& count,
          std::string value) {
  const int slot = count.load();
  if (slot < 0 || slot >= QueueCapacity) {
    return false;
  }
  slots[static_cast<std::size_t>(slot)] = std::move(value);
  count = slot + 1;
  return true;
}

}  // namespace

bool queuePush(InstallState& state, std::string path) {
  return push(state.fileQueue, state.pendingCount, std::move(path));
}

bool digestPush(InstallState& state, std::string digest) {
  return push(state.digestList, state.digestCount, std::move(digest));
}

bool queueContains(const InstallState& state, std::string_view path) {
  return std::any_of(state.fileQueue.begin(), state.fileQueue.end(),
                     [path](const std::string& slot) { return slot == path; });
}

bool digestListed(const InstallState& state, std::string_view digest) {
  const int count = state.digestCount;
  return !digest.empty() &&
         std::any_of(state.digestList.begin(), state.digestList.begin() + count,
                     [digest](const std::string& slot) { return slot == digest; });
}

namespace {

// Which of the two programs `path` is, if any.
std::atomic<bool>* programFlag(InstallState& state, std::string_view path, bool verified) {
  const std::string_view root = state.installFolder;
  if (path.size() <= root.size() || path.substr(0, root.size()) != root) {
    return nullptr;
  }
  const std::string_view name = path.substr(root.size());
  if (name == kUpdateToolName) {
    return verified ? &state.updateToolVerified : &state.updateToolListed;
  }
  if (name == kLauncherName) {
    return verified ? &state.launcherVerified : &state.launcherListed;
  }
  return nullptr;
}

}  // namespace

void markListed(InstallState& state, std::string_view path) {
  if (std::atomic<bool>* flag = programFlag(state, path, false)) {
    *flag = true;
  }
}

void markVerified(InstallState& state, std::string_view path) {
  if (std::atomic<bool>* flag = programFlag(state, path, true)) {
    *flag = true;
  }
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
