#include "update/InstallState.h"

#include "support/LocalPaths.h"
#include "update/lists/ReleaseFile.h"

#include <algorithm>
#include <functional>

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

std::size_t pathHash(std::string_view path) {
  return std::hash<std::string_view>{}(path);
}

// Enters the queue entry at `slot` in the index.
void indexSlot(InstallState& state, std::size_t slot) {
  state.queueIndex.emplace(pathHash(state.fileQueue[slot]), slot);
}

}  // namespace

void queuePush(InstallState& state, std::string path) {
  state.fileQueue.push_back(std::move(path));
  indexSlot(state, state.fileQueue.size() - 1);
  state.pendingCount.fetch_add(1);
}

void digestPush(InstallState& state, std::string digest) {
  state.digestList.insert(std::move(digest));
}

namespace {

// The index of the entry holding `path`, or npos.
std::size_t slotOf(const InstallState& state, std::string_view path) {
  if (path.empty()) {
    return std::string::npos;
  }
  const auto [first, last] = state.queueIndex.equal_range(pathHash(path));
  for (auto it = first; it != last; ++it) {
    if (state.fileQueue[it->second] == path) {
      return it->second;
    }
  }
  return std::string::npos;
}

}  // namespace

std::string* queueSlot(InstallState& state, std::string_view path) {
  const std::size_t slot = slotOf(state, path);
  return slot == std::string::npos ? nullptr : &state.fileQueue[slot];
}

bool queueContains(const InstallState& state, std::string_view path) {
  return slotOf(state, path) != std::string::npos;
}

bool digestListed(const InstallState& state, std::string_view digest) {
  return !digest.empty() && state.digestList.count(std::string(digest)) != 0;
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
  std::erase(state.fileQueue, std::string());
  // std::string compares its bytes as unsigned char (char_traits<char>::lt): the order wanted.
  std::sort(state.fileQueue.begin(), state.fileQueue.end());
  state.queueIndex.clear();
  for (std::size_t slot = 0; slot < state.fileQueue.size(); ++slot) {
    indexSlot(state, slot);
  }
}

}  // namespace vestrel
