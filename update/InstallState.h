// The record of one run that the window and the run's thread share (in the run's context,
// update/RunContext.h).
//
// No lock protects it. The window only reads: the stage, the counts and the progress, all
// atomics. The folder is set on the window's thread before the run's thread starts; the queue,
// the digest list and the program flags belong to the run's thread from then on.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "update/RunStage.h"
#include "update/VerifiedRecord.h"
#include "update/chunks/ChunkIndex.h"

namespace vestrel {

struct AcceptedRelease;
struct ReleasedFile;

struct InstallState {
  // The install folder, '/'-separated and ending in '/': the prefix of every local path, the
  // log's folder, and what the settings store keeps. Set on the window's thread before the
  // run's thread starts (which adjusts it to the platform's rules first thing), and read by the
  // window again only once that thread has ended.
  std::string installFolder;
  std::atomic<bool> pathKnown{false};
  // Changed only through moveToStage (update/RunStage.h).
  std::atomic<RunStage> stage{RunStage::Choosing};

  // How many queue entries are not empty: listed files not yet known to be right.
  std::atomic<int> pendingCount{0};
  // The progress bar's fill in thousandths of the bytes to fetch; only ever grows. The
  // download writes it.
  std::atomic<int> downloadProgress{0};
  // What the line above the full layout's bar says: how many listed files the check has been
  // through, then the bytes fetched of those expected, the speed of the last few seconds and
  // the time left at that speed (-1 while too little is known to say).
  std::atomic<int> filesToCheck{0};
  std::atomic<int> filesChecked{0};
  std::atomic<std::uint64_t> bytesToFetch{0};
  std::atomic<std::uint64_t> bytesFetched{0};
  std::atomic<std::uint64_t> bytesPerSecond{0};
  std::atomic<int> secondsLeft{-1};
  // One entry per listed file (install root and list line), emptied once the file is right.
  // A release may list any number of files, so the tables grow with it, and both are looked
  // up by value rather than searched: a pass over tens of thousands of files must not cost
  // their square.
  std::vector<std::string> fileQueue;
  // Where each queued path was put, by the hash of its bytes (queueSlot checks the bytes).
  std::unordered_multimap<std::size_t, std::size_t> queueIndex;
  std::unordered_set<std::string> digestList;
  // Each listed file this run found right (hashed, taken from the last run's record, or
  // downloaded), for the record the next run reads (update/VerifiedRecord.h).
  std::vector<std::pair<std::string, RecordedFile>> verifiedFiles;
  // When the pass that hashed every file was: this run's, or the one the record goes back to.
  std::chrono::system_clock::time_point verifiedSince{};
  // The chunks of each wrong file the release serves as chunks, as the verification pass cut
  // its old version: by queue entry. Its update fetches only the chunks not among them.
  std::unordered_map<std::string, std::vector<ChunkRef>> heldChunks;

  // The two programs the run ends by starting: whether this run's file list names them, and
  // whether this run has seen their bytes match a listed digest (hashed in place, or
  // downloaded and checked). Only a program both listed and verified is ever started.
  std::atomic<bool> updateToolListed{false};
  std::atomic<bool> launcherListed{false};
  std::atomic<bool> updateToolVerified{false};
  std::atomic<bool> launcherVerified{false};

  // The signed release this run accepted (update/ReleaseCheck.h); empty in a build without
  // publisher keys. Set by the run's thread before the lists are fetched, read-only after.
  std::shared_ptr<const AcceptedRelease> release;
};

// The started programs' names in the install root.
inline constexpr char kUpdateToolName[] = "updateTool.exe";
inline constexpr char kLauncherName[] = "process.exe";

// Notes that the queue entry `path` (install root and list line) is listed, or verified, when
// it is one of the two programs.
void markListed(InstallState& state, std::string_view path);
void markVerified(InstallState& state, std::string_view path);

// What the accepted release says of the queue entry `path` (install root and list line);
// nullptr without a release, or for a path it does not name.
const ReleasedFile* releasedFile(const InstallState& state, std::string_view path);

// Whether `folder` can be an install folder: it fits 259 bytes (support/LocalPaths.h), so every
// path made from it can be checked against that bound, and holds no NUL.
bool installFolderFits(std::string_view folder);

// Sets installFolder; false (and nothing changed) when it does not fit.
bool setInstallFolder(InstallState& state, std::string_view folder);

// Adds `path` to the queue and counts it.
void queuePush(InstallState& state, std::string path);

// Adds `digest` to the listed digests.
void digestPush(InstallState& state, std::string digest);

// The queue entry that holds `path` byte for byte, or nullptr (always for an empty path).
std::string* queueSlot(InstallState& state, std::string_view path);
bool queueContains(const InstallState& state, std::string_view path);

// True when `digest` is one of the listed digests (an empty digest never is).
bool digestListed(const InstallState& state, std::string_view digest);

// Drops the empty entries and sorts the rest in ascending unsigned byte order (a proper
// prefix before the longer path). pendingCount is left as it is.
void compactQueue(InstallState& state);

}  // namespace vestrel
