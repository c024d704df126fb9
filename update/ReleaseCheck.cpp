#include "update/ReleaseCheck.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "platform/ListEncoding.h"
#include "platform/Platform.h"
#include "platform/Sha256.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/HeldFiles.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/ListRound.h"
#include "update/PublisherKeys.h"
#include "update/RunContext.h"
#include "update/lists/ReleaseFile.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel {
namespace {

std::string releasePath(const InstallState& state) {
  return joinPath(state.installFolder, kReleaseFileName);
}

// A whole file of at most `limit` bytes; false when it cannot be read or is larger.
bool readSmallFile(const std::string& path, std::size_t limit, std::string& bytes) {
  std::FILE* file = platform::openFile(path, "rb");
  if (file == nullptr) {
    return false;
  }
  bytes.clear();
  char buffer[64 * 1024];
  std::size_t got = 0;
  while (bytes.size() <= limit && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.append(buffer, got);
  }
  const bool whole = std::ferror(file) == 0 && bytes.size() <= limit;
  std::fclose(file);
  return whole;
}

// The serial of the release this folder last accepted; 0 when it has none that one of the
// keys signed.
std::uint64_t lastAcceptedSerial(const InstallState& state) {
  std::string bytes;
  Release last;
  std::string why;
  if (!readSmallFile(releasePath(state), kMaxReleaseBytes, bytes) ||
      !readRelease(bytes, last, why) || !releaseSignedBy(last, bytes, publisherKeys())) {
    return 0;
  }
  return last.serial;
}

std::int64_t secondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The release file's bytes, fetched under a temporary name that goes at once. False when
// they cannot be had: reported, unless the run was stopped.
bool fetchReleaseBytes(const InstallState& state, ListRound& round, std::string& bytes) {
  const std::string temporary = ListRound::releaseBody(state.installFolder);
  std::string status;
  const ListFetch fetched = round.takeRelease(state.installFolder, status);
  const bool read =
      fetched == ListFetch::Received && readSmallFile(temporary, kMaxReleaseBytes, bytes);
  removeIfPresent(temporary);
  switch (fetched) {
    case ListFetch::Received:
      break;
    case ListFetch::NotServed:
      refuseRelease(systemText(text::kReleaseMissing, status.c_str()));
      return false;
    case ListFetch::Refused:  // the oversized body has been reported
    case ListFetch::Stopped:
      return false;
    case ListFetch::Failed:
      fatalReport(ReportOrder::BoxFirst, {systemText(text::kReleaseFetchFailed)},
                  platform::narrowText(text::kRepositoryFailedBox));
      return false;
  }
  if (!read) {
    refuseRelease(
        systemText(text::kReleaseUnreadable, platform::narrowText(text::kReleaseNotRead).c_str()));
    return false;
  }
  return true;
}

// Each file's entry under the path the queue holds for it. A line that narrow text cannot
// hold is left out: the file list refuses it anyway.
void indexFiles(const std::string& root, AcceptedRelease& accepted) {
  for (const ReleasedFile& file : accepted.release.files) {
    std::string narrow;
    if (platform::listLineToNarrow(file.line, narrow)) {
      accepted.files.emplace(root + narrow, file);
    }
  }
}

}  // namespace

bool namedByRelease(const InstallState& state, ListKind kind, const std::string& path) {
  if (state.release == nullptr) {
    return true;
  }
  const ReleasedList& named = state.release->release.lists[static_cast<std::size_t>(kind)];
  std::string bytes;
  return readSmallFile(path, kMaxListBytes, bytes) && bytes.size() == named.size &&
         platform::sha256Text(bytes.data(), bytes.size()) == named.sha256;
}

void refuseRelease(const std::string& rule) {
  reportReleaseRefusal(rule);
}

bool acceptRelease(InstallState& state, ListRound& round) {
  if (publisherKeys().empty()) {
    return true;
  }
  auto accepted = std::make_shared<AcceptedRelease>();
  if (!fetchReleaseBytes(state, round, accepted->bytes)) {
    return false;
  }
  Release& release = accepted->release;
  std::string why;
  std::string refusal;
  if (!readRelease(accepted->bytes, release, why)) {
    refusal = systemText(text::kReleaseUnreadable, why.c_str());
  } else if (!releaseSignedBy(release, accepted->bytes, publisherKeys())) {
    refusal = systemText(text::kReleaseBadSignature);
  } else if (!release.expires.empty() && secondsNow() >= release.expiresAt) {
    refusal = systemText(text::kReleaseExpired, release.expires.c_str());
  } else if (const std::uint64_t last = lastAcceptedSerial(state); release.serial < last) {
    refusal = systemText(text::kReleaseRolledBack, static_cast<unsigned long long>(release.serial),
                         static_cast<unsigned long long>(last));
  }
  if (!refusal.empty()) {
    refuseRelease(refusal);
    return false;
  }
  indexFiles(state.installFolder, *accepted);
  logMessage(systemText(text::kReleaseAccepted, static_cast<unsigned long long>(release.serial)));
  state.release = std::move(accepted);
  return true;
}

void keepRelease(const InstallState& state) {
  if (state.release == nullptr) {
    return;
  }
  const std::string path = releasePath(state);
  const std::string temporary = path + kPartialSuffix;
  std::FILE* file = platform::openFile(temporary, "wb");
  const std::string& bytes = state.release->bytes;
  bool written =
      file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = file != nullptr && std::fclose(file) == 0 && written;
  int error = 0;
  // Not kept, the next run only compares with an older serial; that costs no file.
  if (!written || !replaceWhenFree(temporary, path, error, runContext().run.stopToken())) {
    removeIfPresent(temporary);
  }
}

}  // namespace vestrel
