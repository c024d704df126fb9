#include "update/ReleaseCheck.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/ListEncoding.h"
#include "platform/Platform.h"
#include "platform/Sha256.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/PublisherKeys.h"
#include "update/RunContext.h"
#include "update/lists/ReleaseFile.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel {
namespace {

constexpr std::chrono::seconds kListRetryPause{2};

std::string releasePath(const InstallState& state) {
  return std::string(state.installRoot) + kReleaseFileName;
}

void removeFile(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(platform::toFsPath(path), ignored);
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
bool fetchReleaseBytes(const InstallState& state, std::string& bytes) {
  const std::string path = releasePath(state);
  const std::string temporary = path + kPartialSuffix;
  std::string status;
  const ListFetch fetched = fetchReleaseFile(temporary, path, status);
  const bool read =
      fetched == ListFetch::Received && readSmallFile(temporary, kMaxReleaseBytes, bytes);
  removeFile(temporary);
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

// Without a release every list that arrived is the one; with one, only the list it names by
// size and SHA-256.
bool namedByRelease(const InstallState& state, ListKind kind, const std::string& path) {
  if (state.release == nullptr) {
    return true;
  }
  const ReleasedList& named = state.release->release.lists[static_cast<std::size_t>(kind)];
  std::string bytes;
  return readSmallFile(path, kMaxListBytes, bytes) && bytes.size() == named.size &&
         platform::sha256Text(bytes.data(), bytes.size()) == named.sha256;
}

// A list fetched under its temporary name takes its own; with a release, only when the release
// names it, and one that differs is fetched once more after a pause (a publisher may be
// half-way through replacing the lists), then refused (reported: Refused).
ListFetch settleList(const InstallState& state, ListKind kind, const std::string& localPath,
                     ListFetch fetched) {
  const std::string temporary = localPath + kPartialSuffix;
  for (int attempt = 0;; ++attempt) {
    if (attempt > 0) {
      if (!pauseUnlessStopped(runContext().run.stopToken(), kListRetryPause)) {
        removeFile(temporary);
        return ListFetch::Stopped;
      }
      fetched = fetchListAs(kind, temporary, localPath);
    }
    const bool same = fetched == ListFetch::Received && namedByRelease(state, kind, temporary);
    int error = 0;
    if (same && platform::replaceFile(temporary, localPath, error)) {
      return ListFetch::Received;
    }
    removeFile(temporary);
    if (fetched != ListFetch::Received) {
      return fetched;
    }
    if (same) {
      const std::string reason = std::error_code(error, std::generic_category()).message();
      const std::string failure =
          systemText(text::kLocalFileWriteFailed, localPath.c_str(), reason.c_str());
      logMessage(failure);
      showError(systemText(text::kOtherErrorBox, failure.c_str()));
      return ListFetch::Failed;
    }
    if (attempt == 1) {
      refuseRelease(systemText(text::kReleaseListMismatch, listFileName(kind)));
      return ListFetch::Refused;
    }
  }
}

}  // namespace

void refuseRelease(const std::string& rule) {
  reportReleaseRefusal(rule);
}

bool acceptRelease(InstallState& state) {
  if (publisherKeys().empty()) {
    return true;
  }
  auto accepted = std::make_shared<AcceptedRelease>();
  if (!fetchReleaseBytes(state, accepted->bytes)) {
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
  indexFiles(state.installRoot, *accepted);
  logMessage(systemText(text::kReleaseAccepted, static_cast<unsigned long long>(release.serial)));
  state.release = std::move(accepted);
  return true;
}

ListFetch fetchReleasedList(const InstallState& state, ListKind kind,
                            const std::string& localPath) {
  if (state.release == nullptr) {
    return fetchListAs(kind, localPath, localPath);
  }
  return settleList(state, kind, localPath,
                    fetchListAs(kind, localPath + kPartialSuffix, localPath));
}

bool fetchReleasedLists(const InstallState& state, ListKind first, const std::string& firstPath,
                        ListKind second, const std::string& secondPath) {
  ListFetch secondFetch = ListFetch::Failed;
  const ListFetch firstFetch =
      fetchListsAtOnce({first, firstPath + kPartialSuffix, firstPath},
                       {second, secondPath + kPartialSuffix, secondPath}, secondFetch);
  if (settleList(state, first, firstPath, firstFetch) != ListFetch::Received) {
    removeFile(secondPath + kPartialSuffix);
    return false;
  }
  return settleList(state, second, secondPath, secondFetch) == ListFetch::Received;
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
  if (!written || !platform::replaceFile(temporary, path, error)) {
    removeFile(temporary);
  }
}

}  // namespace vestrel
