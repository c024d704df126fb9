#include "update/VerifyFiles.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/Fetcher.h"
#include "update/FileDigest.h"
#include "update/InstallState.h"
#include "update/ListRefusal.h"
#include "update/ListRules.h"

namespace vestrel {
namespace {

// Reads a list whole and checks every line before anything acts on it; a refused list is
// reported here.
bool readList(const std::string& path, ListKind kind, const std::string& root,
              std::vector<std::string>& lines) {
  CheckedList list = readCheckedList(path, kind, root);
  if (!list.accepted) {
    reportRefusedList(listFileName(kind), list.refusedLine);
    return false;
  }
  lines = std::move(list.lines);
  return true;
}

std::string hashFile(const std::string& path) {
  // A file that cannot be opened hashes as empty input and is then judged like any other.
  std::string digest;
  std::string ignored;
  digestFile(path, digest, ignored);
  return digest;
}

bool walkFailure(const std::string& path, const std::error_code& error) {
  logLine(text::kWalkFailed, path.c_str(), error.message().c_str());
  showError(platform::narrowText(text::kWalkFailedBox));
  return false;
}

// Checks one walked entry. False when the walk must stop.
bool checkEntry(InstallState& state, const std::filesystem::directory_entry& entry) {
  namespace fs = std::filesystem;
  std::string name;
  std::string walked;
  if (!platform::fromFsPath(entry.path().filename(), name) ||
      !platform::fromFsPath(entry.path(), walked)) {
    return walkFailure(entry.path().string(),
                       std::make_error_code(std::errc::illegal_byte_sequence));
  }
  logLine(text::kChecking, name.c_str());

  std::error_code error;
  const fs::file_status status = fs::status(entry.path(), error);
  if (error && status.type() != fs::file_type::not_found) {
    return walkFailure(walked, error);
  }
  if (fs::is_directory(status) || isListFileName(name)) {
    return true;
  }
  std::replace(walked.begin(), walked.end(), '\\', '/');
  const auto slot = std::find(state.fileQueue.begin(), state.fileQueue.end(), walked);
  if (slot == state.fileQueue.end()) {
    return true;  // not listed: never hashed, never deleted
  }

  if (digestListed(state, hashFile(*slot))) {
    slot->clear();
    state.pendingCount.fetch_sub(1);
    return true;
  }
  // A wrong launcher.exe may be the one running; its fresh copy is saved beside it instead.
  if (name != "launcher.exe") {
    fs::remove(entry.path(), error);
    if (error) {
      return walkFailure(walked, error);
    }
  }
  return true;
}

}  // namespace

bool verifyFiles(InstallState& state) {
  namespace fs = std::filesystem;
  const std::string root = state.installRoot;

  const std::string fileListPath = formatted("%s/ufile.lists", root.c_str());
  if (fetchFileList(fileListPath) != ListFetch::Received) {
    return false;
  }
  const std::string hashListPath = formatted("%s/uhash.lists", root.c_str());
  if (fetchHashList(hashListPath) != ListFetch::Received) {
    return false;
  }

  std::vector<std::string> files;
  std::vector<std::string> digests;
  if (!readList(fileListPath, ListKind::Files, root, files) ||
      !readList(hashListPath, ListKind::Digests, root, digests)) {
    return false;
  }
  for (const std::string& line : files) {
    std::string path = root + line;
    // Each queued path also goes to standard output ("K" for the queue): started from a
    // console, the installer shows what it is about to check. The log does not repeat it.
    std::printf("K:%s\n", path.c_str());
    queuePush(state, std::move(path));
  }
  for (std::string& digest : digests) {
    digestPush(state, std::move(digest));
  }

  std::error_code error;
  fs::recursive_directory_iterator walk(platform::toFsPath(root), error);
  if (error) {
    return walkFailure(root, error);
  }
  while (walk != fs::recursive_directory_iterator()) {
    if (!checkEntry(state, *walk)) {
      return false;
    }
    // Entering a folder happens here, so a folder that cannot be read fails this step.
    const fs::path current = walk->path();
    walk.increment(error);
    if (error) {
      return walkFailure(current.string(), error);
    }
  }

  compactQueue(state);
  return true;
}

}  // namespace vestrel
