#include "update/VerifyFiles.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "platform/FileStamp.h"
#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/ListRound.h"
#include "update/MoveAside.h"
#include "update/ReleaseCheck.h"
#include "update/RunContext.h"
#include "update/VerifiedRecord.h"
#include "update/digest/DigestPool.h"
#include "update/lists/ListRefusal.h"
#include "update/lists/ListRules.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/ResumablePart.h"

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
      readCheckedList(joinPath(root, kFolderListName), ListKind::Folders, root);
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
  return false;
}

// A listed file found in the walk: its slot empties when its bytes hash to a listed digest.
// A wrong file stays where it is until its verified replacement takes its name; a file that
// cannot be read is wrong, whatever part of it was read.
void judgeListedFile(InstallState& state, std::string& slot, DigestJob& hashed,
                     const platform::FileStamp* stamp) {
  if (!hashed.read) {
    logLine(text::kUnreadableFile, slot.c_str(), hashed.error.c_str());
    return;
  }
  // With a signed release a file is right only with its own digest: any listed one would
  // let one file's bytes stand for another's.
  const ReleasedFile* released = releasedFile(state, slot);
  if (released != nullptr ? hashed.digest == released->md5 : digestListed(state, hashed.digest)) {
    markVerified(state, slot);
    if (stamp != nullptr) {
      noteVerified(state, slot, *stamp, hashed.digest);
    }
    std::string().swap(slot);  // its room too: a game's queue is megabytes
    state.pendingCount.fetch_sub(1);
  } else if (hashed.cutChunks) {
    state.heldChunks[slot] = std::move(hashed.chunks);
  }
}

// What the walk found at one entry, acted on once every entry before it has been.
struct WalkStep {
  enum class Act { None, Judge, RemoveLeftover, KeepPart, MoveAside, WalkFailed, UnreadableFolder };
  Act act = Act::None;
  std::string checked{};  // the name logged as checked first; empty when none is
  std::string path{};     // the walked entry, or the folder that could not be read
  std::string reason{};   // why the walk failed there
  fs::path leftover{};
  std::string* slot = nullptr;  // the queue slot of a listed file
  std::unique_ptr<DigestJob> job{};
  bool stamped = false;  // the file's stamp was read before it was hashed
  platform::FileStamp stamp{};
  bool recorded = false;  // its digest is the last run's record's: it is not hashed
};

// Each listed file's digest is computed on the pool while the walk goes on, but the log and
// the install state hear of the walked entries one by one in walk order, as if each file were
// hashed when the walk reached it. The walk runs at most a few hashes ahead, so that a large
// tree costs no more memory than a small one. A file whose stamp is the one the last run's
// record gives is not hashed: its recorded digest is judged in its place.
class VerifyWalk {
 public:
  VerifyWalk(InstallState& state, VerifiedRecord& record, unsigned threads, std::stop_token stop)
      : state_(state),
        record_(record),
        stop_(std::move(stop)),
        mostHashing_(kHashesPerThread * threads) {
    // Without threads of its own, the pool hashes on this thread and the walk is as before.
    pool_.start(threads, stop_);
  }

  // Walks one folder in the order the system lists it, going into each subfolder as it comes.
  // A folder that cannot be read is passed over, once, with a line in the log.
  void walkFolder(const fs::path& folder, const std::string& narrowFolder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      if (stop_.stop_requested()) {
        return;  // the run is ending: what is left is not looked at
      }
      if (checkEntry(*it)) {
        std::string narrow;
        platform::fromFsPath(it->path(), narrow);
        walkFolder(it->path(), narrow);
      }
    }
    if (error) {
      add({.act = WalkStep::Act::UnreadableFolder,
           .path = narrowFolder,
           .reason = error.message()});
    }
  }

  // Acts on every entry still waiting.
  void finish() {
    while (!steps_.empty()) {
      actOnFront();
    }
  }

  // Once every file is judged: a part kept for a file that turned out right goes after all,
  // and so does every sidecar left without its part.
  void settleLeftovers() {
    if (stop_.stop_requested()) {
      return;
    }
    std::unordered_set<std::string> kept;
    for (const auto& [file, slot] : keptParts_) {
      if (slot->empty()) {
        removeResumable(file);
        logLine(text::kLeftoverRemoved, partPath(file).c_str());
      } else {
        kept.insert(file);
      }
    }
    for (const std::string& sidecar : sidecars_) {
      if (kept.count(sidecar.substr(0, sidecar.size() - kResumeSuffixLength)) == 0) {
        removeIfPresent(sidecar);
        logLine(text::kLeftoverRemoved, sidecar.c_str());
      }
    }
  }

 private:
  static constexpr std::size_t kHashesPerThread = 4;
  static constexpr std::size_t kMostSteps = 1024;
  static constexpr std::size_t kPartialSuffixLength =
      std::char_traits<char>::length(kPartialSuffix);
  static constexpr std::size_t kResumeSuffixLength = std::char_traits<char>::length(kResumeSuffix);

  bool checkEntry(const fs::directory_entry& entry);
  void add(WalkStep step);
  void actOnFront();
  void act(WalkStep& step);

  InstallState& state_;
  VerifiedRecord& record_;
  const std::stop_token stop_;
  const std::size_t mostHashing_;
  std::size_t hashing_ = 0;
  // Before the pool, which joins its threads first when the walk ends early.
  std::deque<WalkStep> steps_;
  DigestPool pool_;
  // Parts kept to resume (the file they belong to, and its queue slot), and the sidecars seen.
  std::vector<std::pair<std::string, const std::string*>> keptParts_;
  std::vector<std::string> sidecars_;
};

// Decides what one walked entry needs. True when the walk should go into it (a folder of
// the tree).
bool VerifyWalk::checkEntry(const fs::directory_entry& entry) {
  std::string name;
  std::string walked;
  if (!narrowNames(entry, name, walked)) {
    add({.act = WalkStep::Act::WalkFailed,
         .path = entry.path().string(),
         .reason = std::make_error_code(std::errc::illegal_byte_sequence).message()});
    return false;
  }
  WalkStep step{.checked = name, .path = walked};
  std::error_code error;
  const fs::file_status status = entry.symlink_status(error);
  if (error) {
    if (status.type() != fs::file_type::not_found) {
      step.act = WalkStep::Act::WalkFailed;
      step.reason = error.message();
    }
    add(std::move(step));
    return false;
  }
  std::string* const slot = queueSlot(state_, walked);
  const bool listed = slot != nullptr;
  bool descend = false;
  if (fs::is_directory(status)) {
    // A listed file that is a folder here: the folder is kept aside, and the file comes.
    step.act = listed ? WalkStep::Act::MoveAside : WalkStep::Act::None;
    descend = !listed;
  } else if (fs::is_regular_file(status) && name.size() > kPartialSuffixLength &&
             name.ends_with(kPartialSuffix)) {
    // What an interrupted download left (no listed name ends so): kept to go on from while
    // its file is listed and not yet found right, and its validator is beside it.
    std::string file = walked.substr(0, walked.size() - kPartialSuffixLength);
    const std::string* fileSlot = queueSlot(state_, file);
    if (fileSlot != nullptr && !fileSlot->empty() &&
        fs::is_regular_file(platform::toFsPath(sidecarPath(file)), error)) {
      step.act = WalkStep::Act::KeepPart;
      keptParts_.emplace_back(std::move(file), fileSlot);
    } else {
      step.act = WalkStep::Act::RemoveLeftover;
      step.leftover = entry.path();
    }
  } else if (fs::is_regular_file(status) && name.size() > kResumeSuffixLength &&
             name.ends_with(kResumeSuffix)) {
    sidecars_.push_back(walked);  // settled once the parts are
  } else if (listed && !isListFileName(name)) {
    step.act = WalkStep::Act::Judge;
    step.slot = slot;
    step.job = std::make_unique<DigestJob>();
    step.job->path = walked;
    const ReleasedFile* released = releasedFile(state_, walked);
    step.job->cutChunks = released != nullptr && !released->indexSha256.empty();
    step.stamped = platform::readFileStamp(walked, step.stamp);
    std::string recorded =
        step.stamped
            ? record_.takeUnchangedDigest(walked.substr(state_.installFolder.size()), step.stamp)
            : std::string();
    // An old version of a file served as chunks is read all the same: its chunks are what
    // its update keeps.
    if (!recorded.empty() && !(step.job->cutChunks && recorded != released->md5)) {
      step.recorded = true;
      step.job->read = true;
      step.job->digest = std::move(recorded);
      step.job->stage = DigestJob::Stage::Done;
    }
  }
  add(std::move(step));
  return descend;
}

void VerifyWalk::add(WalkStep step) {
  if (step.job != nullptr && !step.recorded) {
    pool_.submit(*step.job);
    ++hashing_;
  }
  const bool inPlace = step.act == WalkStep::Act::MoveAside;
  steps_.push_back(std::move(step));
  if (inPlace) {
    // Moving aside changes the folder being walked: it happens as the walk reaches it, as
    // when nothing was hashed ahead.
    finish();
    return;
  }
  // What is ready goes out at once; the walk waits only when it is too far ahead.
  while (!steps_.empty() && (hashing_ > mostHashing_ || steps_.size() > kMostSteps ||
                             steps_.front().job == nullptr || pool_.done(*steps_.front().job))) {
    actOnFront();
  }
}

void VerifyWalk::actOnFront() {
  WalkStep step = std::move(steps_.front());
  steps_.pop_front();
  if (step.job != nullptr && !step.recorded) {
    pool_.wait(*step.job);
    --hashing_;
  }
  act(step);
}

void VerifyWalk::act(WalkStep& step) {
  if (stop_.stop_requested()) {
    return;  // the run is ending: a file hashed only part way says nothing
  }
  if (!step.checked.empty()) {
    logLine(text::kChecking, step.checked.c_str());
  }
  std::error_code error;
  switch (step.act) {
    case WalkStep::Act::None:
      break;
    case WalkStep::Act::Judge:
      judgeListedFile(state_, *step.slot, *step.job, step.stamped ? &step.stamp : nullptr);
      state_.filesChecked.fetch_add(1);
      break;
    case WalkStep::Act::RemoveLeftover:
      if (fs::remove(step.leftover, error)) {
        logLine(text::kLeftoverRemoved, step.path.c_str());
      }
      break;
    case WalkStep::Act::KeepPart:
      logLine(text::kLeftoverKept, step.path.c_str());
      break;
    case WalkStep::Act::MoveAside:
      moveAside(step.path);
      break;
    case WalkStep::Act::WalkFailed:
      logLine(text::kWalkFailed, step.path.c_str(), step.reason.c_str());
      break;
    case WalkStep::Act::UnreadableFolder:
      logLine(text::kUnreadableFolder, step.path.c_str(), step.reason.c_str());
      break;
  }
}

}  // namespace

bool verifyFiles(InstallState& state) {
  const std::string root = state.installFolder;
  ListRound& round = runContext().lists;
  if (round.takeList(state, ListKind::Files) != ListFetch::Received ||
      round.takeList(state, ListKind::Digests) != ListFetch::Received) {
    return false;  // reported, unless the run was stopped
  }
  const std::string fileListPath = joinPath(root, kFileListName);
  const std::string hashListPath = joinPath(root, kDigestListName);

  std::vector<std::string> files;
  std::vector<std::string> digests;
  if (!readList(fileListPath, ListKind::Files, root, files) ||
      !readList(hashListPath, ListKind::Digests, root, digests) ||
      !listsAgree(root, files, digests)) {
    return false;
  }
  // Each queued path also goes to standard output ("K" for the queue): started from a
  // console, the installer shows what it is about to check. The log does not repeat it. The
  // lines go out in blocks as the queue fills: one write per path costs a visible part of a
  // run where every write is a call into the system.
  std::string queued;
  const auto showQueued = [&queued] {
    std::fwrite(queued.data(), 1, queued.size(), stdout);
    std::fflush(stdout);
    queued.clear();
  };
  // A game's lists are megabytes: each line's room goes back once the queue holds it.
  state.fileQueue.reserve(files.size());
  state.queueIndex.reserve(files.size());
  for (std::string& line : files) {
    std::string path = root + line;
    std::string().swap(line);
    if (state.release != nullptr && releasedFile(state, path) == nullptr) {
      showQueued();
      refuseRelease(systemText(text::kReleaseFileUnnamed, path.c_str()));
      return false;
    }
    queued += "K:" + path + "\n";
    if (queued.size() >= 64 * 1024) {
      showQueued();
    }
    markListed(state, path);
    queuePush(state, std::move(path));
  }
  showQueued();
  std::vector<std::string>().swap(files);
  state.filesToCheck = static_cast<int>(state.fileQueue.size());
  state.digestList.reserve(digests.size());
  for (std::string& digest : digests) {
    digestPush(state, std::move(digest));
  }
  std::vector<std::string>().swap(digests);

  // The last run's record, when it is one to trust; otherwise every listed file is hashed.
  VerifiedRecord record;
  state.verifiedSince = record.load(root) ? record.since() : std::chrono::system_clock::now();
  state.verifiedFiles.clear();
  state.verifiedFiles.reserve(state.fileQueue.size());
  const std::stop_token stop = runContext().run.stopToken();
  VerifyWalk walk(state, record, digestThreads(), stop);
  walk.walkFolder(platform::toFsPath(root), root);
  walk.finish();
  walk.settleLeftovers();
  state.filesChecked = state.filesToCheck.load();  // the missing ones too
  compactQueue(state);
  return !stop.stop_requested();
}

}  // namespace vestrel
