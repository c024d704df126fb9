#include "update/VerifyFiles.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/MoveAside.h"
#include "update/ReleaseCheck.h"
#include "update/digest/FileDigest.h"
#include "update/lists/ListRefusal.h"
#include "update/lists/ListRules.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/Fetcher.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;

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

// The three lists must describe one release together; the folder list was checked when the
// folders were made, and its local copy is read again here.
bool listsAgree(const std::string& root, const std::vector<std::string>& files,
                const std::vector<std::string>& digests) {
  const CheckedList folders =
      readCheckedList(formatted("%s/udirs.lists", root.c_str()), ListKind::Folders, root);
  ListKind refusedList = ListKind::Files;
  std::string refusedLine;
  if (releaseListsAgree(folders.lines, files, digests, refusedList, refusedLine)) {
    return true;
  }
  if (refusedList == ListKind::Digests) {
    logLine(text::kNoDigestsListed);
    showError(platform::narrowText(text::kBadListBox));
  } else {
    reportRefusedList(listFileName(refusedList), refusedLine);
  }
  return false;
}

bool narrowNames(const fs::directory_entry& entry, std::string& name, std::string& walked) {
  if (platform::fromFsPath(entry.path().filename(), name) &&
      platform::fromFsPath(entry.path(), walked)) {
    std::replace(walked.begin(), walked.end(), '\\', '/');
    return true;
  }
  logLine(text::kWalkFailed, entry.path().string().c_str(),
          std::make_error_code(std::errc::illegal_byte_sequence).message().c_str());
  return false;
}

// A listed file found in the walk: its slot empties when its bytes hash to a listed digest.
// A wrong file stays where it is until its verified replacement takes its name; a file that
// cannot be read is wrong, whatever part of it was read.
void judgeListedFile(InstallState& state, std::string& slot) {
  std::string digest;
  std::string reason;
  if (!digestFile(slot, digest, reason)) {
    logLine(text::kUnreadableFile, slot.c_str(), reason.c_str());
    return;
  }
  // With a signed release a file is right only with its own digest: any listed one would
  // let one file's bytes stand for another's.
  const ReleasedFile* released = releasedFile(state, slot);
  if (released != nullptr ? digest == released->md5 : digestListed(state, digest)) {
    markVerified(state, slot);
    slot.clear();
    state.pendingCount.fetch_sub(1);
  }
}

// Checks one walked entry. True when the walk should go into it (a folder of the tree).
bool checkEntry(InstallState& state, const fs::directory_entry& entry) {
  std::string name;
  std::string walked;
  if (!narrowNames(entry, name, walked)) {
    return false;
  }
  logLine(text::kChecking, name.c_str());

  std::error_code error;
  const fs::file_status status = entry.symlink_status(error);
  if (error) {
    if (status.type() != fs::file_type::not_found) {
      logLine(text::kWalkFailed, walked.c_str(), error.message().c_str());
    }
    return false;
  }
  const auto slot = std::find(state.fileQueue.begin(), state.fileQueue.end(), walked);
  const bool listed = slot != state.fileQueue.end();
  if (fs::is_directory(status)) {
    // A listed file that is a folder here: the folder is kept aside, and the file comes.
    if (listed) {
      moveAside(walked);
      return false;
    }
    return true;
  }
  if (fs::is_regular_file(status) && name.size() > std::char_traits<char>::length(kPartialSuffix) &&
      name.ends_with(kPartialSuffix)) {
    // What an interrupted download left; no listed name ends so.
    if (fs::remove(entry.path(), error)) {
      logLine(text::kLeftoverRemoved, walked.c_str());
    }
    return false;
  }
  if (listed && !isListFileName(name)) {
    judgeListedFile(state, *slot);
  }
  return false;
}

// Walks one folder in the order the system lists it, going into each subfolder as it comes.
// A folder that cannot be read is passed over, once, with a line in the log.
void walkFolder(InstallState& state, const fs::path& folder, const std::string& narrowFolder) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    if (checkEntry(state, *it)) {
      std::string narrow;
      platform::fromFsPath(it->path(), narrow);
      walkFolder(state, it->path(), narrow);
    }
  }
  if (error) {
    logLine(text::kUnreadableFolder, narrowFolder.c_str(), error.message().c_str());
  }
}

}  // namespace

bool verifyFiles(InstallState& state) {
  const std::string root = state.installRoot;

  const std::string fileListPath = formatted("%s/ufile.lists", root.c_str());
  const std::string hashListPath = formatted("%s/uhash.lists", root.c_str());
  if (!fetchReleasedLists(state, ListKind::Files, fileListPath, ListKind::Digests, hashListPath)) {
    return false;
  }

  std::vector<std::string> files;
  std::vector<std::string> digests;
  if (!readList(fileListPath, ListKind::Files, root, files) ||
      !readList(hashListPath, ListKind::Digests, root, digests) ||
      !listsAgree(root, files, digests)) {
    return false;
  }
  for (const std::string& line : files) {
    std::string path = root + line;
    if (state.release != nullptr && releasedFile(state, path) == nullptr) {
      refuseRelease(systemText(text::kReleaseFileUnnamed, path.c_str()));
    }
    // Each queued path also goes to standard output ("K" for the queue): started from a
    // console, the installer shows what it is about to check. The log does not repeat it.
    std::printf("K:%s\n", path.c_str());
    markListed(state, path);
    queuePush(state, std::move(path));
  }
  for (std::string& digest : digests) {
    digestPush(state, std::move(digest));
  }

  walkFolder(state, platform::toFsPath(root), root);
  compactQueue(state);
  return true;
}

}  // namespace vestrel
