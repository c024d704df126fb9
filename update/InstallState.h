// The record of one run that the window and the run's thread share (in the run's context,
// update/RunContext.h).
//
// No lock protects it. The window only reads: the stage, the counts and the progress, all
// atomics. The folder is set on the window's thread before the run's thread starts; the queue,
// the digest list and the program flags belong to the run's thread from then on.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "update/RunStage.h"

namespace vestrel {

struct AcceptedRelease;
struct ReleasedFile;

inline constexpr int QueueCapacity = 500;

struct InstallState {
  // The install folder, '/'-separated and ending in '/': the prefix of every local path, the
  // log's folder, and what the settings store keeps. Set on the window's thread before the
  // run's thread starts (which adjusts it to the platform's rules first thing), and read by the
  // window again only once that thread has ended.
  std::string installFolder;
  std::atomic<bool> pathKnown{false};
  // Changed only through moveToStage (update/RunStage.h).
  std::atomic<RunStage> stage{RunStage::Choosing};

  std::atomic<int> pendingCount{0};
  // The progress bar's fill in thousandths; only ever grows. The download writes it.
  std::atomic<int> downloadProgress{0};
  std::array<std::string, QueueCapacity> fileQueue;
  std::atomic<int> digestCount{0};
  std::array<std::string, QueueCapacity> digestList;

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

// Stores `path` in slot pendingCount and counts it. False, with nothing written, when all
// 500 slots are taken.
bool queuePush(InstallState& state, std::string path);

// Stores `digest` in slot digestCount and counts it. False when all 500 slots are taken.
bool digestPush(InstallState& state, std::string digest);

// True when some queue slot equals `path` byte for byte (an empty path matches any empty
// slot).
bool queueContains(const InstallState& state, std::string_view path);

// True when `digest` is one of the listed digests (an empty digest never is).
bool digestListed(const InstallState& state, std::string_view digest);

// Puts the non-empty entries first, in ascending unsigned byte order (a proper prefix before
// the longer path), and every empty slot after them. pendingCount is left as it is.
void compactQueue(InstallState& state);

}  // namespace vestrel
