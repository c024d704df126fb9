#include "update/net/FileDownload.h"

#include <string>

#include "platform/Platform.h"
#include "support/FormatText.h"
#include "support/HeldFiles.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/RunContext.h"
#include "update/lists/ListRules.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/DiskSpace.h"
#include "update/net/FileServer.h"
#include "update/net/ResumablePart.h"
#include "update/net/Transfer.h"

namespace vestrel {

struct FileDownload::Parts {
  Transfer transfer;
  std::string finalPath;  // the name the verified body takes
  std::string logName;
  const ReleasedFile* released = nullptr;  // what the signed release says of the file
  AnswerHeads heads;
  std::string validator;    // the version of the file the part is the start of
  bool sidecar = false;     // the validator stands beside the part
  bool startOver = false;   // the answer does not go on from the part
  std::uint64_t total = 0;  // the whole file's length, as a 206 gives it

  // A part that goes (the transfer removes it) takes its sidecar with it.
  ~Parts() {
    if (sidecar && !transfer.temporaryPath.empty()) {
      removeIfPresent(sidecarPath(finalPath));
    }
  }
};

namespace {

// Whether a part is worth keeping after a failure: the link or the server failed, not the
// bytes, the disk or the file's place on the server.
bool cutOff(const FetchFailure& failure) {
  switch (failure.kind) {
    case FetchFailure::Kind::Ssl:
    case FetchFailure::Kind::Other:
    case FetchFailure::Kind::ProxyLogin:
      return true;
    case FetchFailure::Kind::Status:
      return failure.httpStatus >= 500 || failure.httpStatus == 408 || failure.httpStatus == 429;
    default:
      return false;
  }
}

}  // namespace

FileDownload::FileDownload() : parts_(std::make_unique<Parts>()) {}
FileDownload::~FileDownload() = default;

bool FileDownload::start(const InstallState& state, const std::string& localPath,
                         const std::string& logName, FetchFailure& failure) {
  failure = {};
  const std::string& root = state.installFolder;
  // Queue entries always start with the install root; anything else is not ours to write.
  if (localPath.empty() || localPath.compare(0, root.size(), root) != 0) {
    return false;
  }
  const std::string relative = localPath.substr(root.size());
  parts_->finalPath = root + std::string(storedFileLine(relative));
  parts_->logName = logName;
  if (!openPart(failure)) {
    return false;
  }
  Transfer& t = parts_->transfer;
  CURL* easy = t.curl.get();
  const ReleasedFile* released = parts_->released = releasedFile(state, localPath);
  t.fileBody = std::make_unique<FileSink>(
      t.file.get(), FileSink::Budget{.disk = &runContext().net.disk,
                                     .folder = root,
                                     .announcedLength = [this] { return expectedBytes(); },
                                     .exactLength = released != nullptr ? released->size : 0,
                                     .sha256 = released != nullptr});
  setTransferOptions(t, fileUrl(platform::narrowToUtf8(relative)));
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &FileDownload::onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<void*>(parts_.get()));
  if (parts_->sidecar) {
    // Every byte is hashed, the kept ones too: the digests vouch for the whole file.
    if (!t.fileBody->takeUp()) {
      failure = {FetchFailure::Kind::StartOver, parts_->finalPath};
      return false;
    }
  }
  const std::uint64_t kept = t.fileBody->kept();
  if (kept > 0) {
    const std::string range = std::to_string(kept) + "-";
    curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());  // libcurl keeps its own copy
    t.requestHeaders.reset(curl_slist_append(nullptr, ("If-Range: " + parts_->validator).c_str()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.requestHeaders.get());
    t.rangeAsked = true;
    logLine(text::kDownloadResumed, logName.c_str(), static_cast<double>(kept) / (1024 * 1024));
  }
  return true;
}

// Opens the part to go on from, where one was kept with its validator, else a new one.
bool FileDownload::openPart(FetchFailure& failure) {
  Parts& p = *parts_;
  Transfer& t = p.transfer;
  const std::string part = partPath(p.finalPath);
  p.sidecar = readValidator(p.finalPath, p.validator);
  if (p.sidecar && openTransfer(t, kFileFetch, part, failure, "r+b")) {
    t.temporaryPath = t.writePath;
    return true;
  }
  if (p.sidecar) {
    removeResumable(p.finalPath);  // a sidecar without its part, or a part that cannot be had
    p.sidecar = false;
  }
  if (!openTransfer(t, kFileFetch, part, failure)) {
    return false;
  }
  t.temporaryPath = t.writePath;
  return true;
}

// Sees each answer's headers as they end. A new body's validator is kept beside its part
// before its first byte is written, so that even a run that is killed leaves a part that the
// next can go on from. A resumed body must be the rest of the part's file: anything else
// ends the transfer at once, before its bytes are taken.
std::size_t FileDownload::onHeader(char* data, std::size_t size, std::size_t count, void* parts) {
  Parts& p = *static_cast<Parts*>(parts);
  const std::size_t length = size * count;
  if (!p.heads.take({data, length})) {
    return length;
  }
  long status = 0;
  curl_easy_getinfo(p.transfer.curl.get(), CURLINFO_RESPONSE_CODE, &status);
  const std::uint64_t kept = p.transfer.fileBody->kept();
  if (status / 100 == 1 || status / 100 == 3) {
    return length;  // not the answer that carries the file
  }
  if (kept > 0) {
    if (status == 206 && p.heads.ranged && p.heads.rangeStart == kept) {
      const std::uint64_t rest = announcedLength(p.transfer.curl.get());
      p.total = p.heads.total > 0 ? p.heads.total : rest > 0 ? kept + rest : 0;
      return length;
    }
    if (status == 200 || status == 206) {
      // The file changed since the part was written, or the server does not give ranges.
      p.startOver = true;
      return 0;
    }
    return length;  // judged when the transfer ends
  }
  const std::uint64_t announced = announcedLength(p.transfer.curl.get());
  if (status == 200 && (announced == 0 || announced >= kSmallestResumable)) {
    const std::string validator = p.heads.validator();
    p.sidecar = !validator.empty() && writeValidator(p.finalPath, validator);
  }
  return length;
}

CURL* FileDownload::handle() const {
  return parts_->transfer.curl.get();
}

std::uint64_t FileDownload::receivedBytes() const {
  const FileSink* body = parts_->transfer.fileBody.get();
  return body != nullptr ? body->received() : 0;
}

std::uint64_t FileDownload::keptBytes() const {
  const FileSink* body = parts_->transfer.fileBody.get();
  return body != nullptr ? body->kept() : 0;
}

std::uint64_t FileDownload::expectedBytes() const {
  if (parts_->transfer.rangeAsked) {
    return parts_->total;
  }
  CURL* curl = handle();
  return curl != nullptr ? announcedLength(curl) : 0;
}

void FileDownload::keepPart() {
  if (parts_->sidecar) {
    parts_->transfer.temporaryPath.clear();
  }
}

const std::string& FileDownload::placedPath() const {
  return parts_->finalPath;
}

std::string FileDownload::placedDigest() const {
  return parts_->transfer.fileBody->digest();
}

bool FileDownload::finish(const InstallState& state, const TransferEnd& end,
                          FetchFailure& failure) {
  failure = {};
  Transfer& t = parts_->transfer;
  if (!finishTransfer(t, end, failure)) {
    if (t.fileBody->tooLong()) {
      failure = {FetchFailure::Kind::Refused,
                 systemText(text::kReleaseFileTooLong, parts_->finalPath.c_str())};
    }
    return failed(failure);
  }
  if (!bodyVouchedFor(state, failure)) {
    return failed(failure);
  }
  int error = 0;
  if (!replaceWhenFree(t.temporaryPath, parts_->finalPath, error, runContext().run.stopToken())) {
    failure = isNoSpaceError(error)
                  ? FetchFailure{FetchFailure::Kind::DiskFull, parts_->finalPath, 0}
                  : FetchFailure{FetchFailure::Kind::Write,
                                 systemText(text::kLocalFileWriteFailed, parts_->finalPath.c_str(),
                                            systemReason(error).c_str())};
    return failed(failure);
  }
  t.temporaryPath.clear();
  if (parts_->sidecar) {
    removeIfPresent(sidecarPath(parts_->finalPath));
    parts_->sidecar = false;
  }
  logLine(text::kDownloaded, parts_->logName.c_str());
  return true;
}

// A failed attempt. A resumed body that could not go on, or that came out wrong, gets one
// more chance from nothing before anything counts against it: the part goes, and the caller
// starts the file over at once. A body cut off keeps its part; any other loses it.
bool FileDownload::failed(FetchFailure& failure) {
  Parts& p = *parts_;
  const bool resumed = p.transfer.rangeAsked;
  if (p.startOver ||
      (resumed && (failure.httpStatus == 416 || failure.kind == FetchFailure::Kind::Mismatch ||
                   failure.kind == FetchFailure::Kind::Refused))) {
    failure = {FetchFailure::Kind::StartOver, p.finalPath};
  } else if (p.sidecar && cutOff(failure)) {
    p.transfer.temporaryPath.clear();
  }
  return false;
}

// Bytes that nothing vouches for are never kept, let alone started; the file they were meant
// to replace stays as it was. With a signed release the body must be its own file's, byte
// for byte; without, any listed digest vouches for it.
bool FileDownload::bodyVouchedFor(const InstallState& state, FetchFailure& failure) {
  FileSink& body = *parts_->transfer.fileBody;
  const ReleasedFile* released = parts_->released;
  if (released == nullptr
          ? digestListed(state, body.digest())
          : body.received() == released->size && body.sha256Digest() == released->sha256 &&
                body.digest() == released->md5) {
    return true;
  }
  failure = released == nullptr
                ? FetchFailure{FetchFailure::Kind::Mismatch, parts_->finalPath}
                : FetchFailure{FetchFailure::Kind::Refused,
                               systemText(text::kReleaseFileMismatch, parts_->finalPath.c_str())};
  return false;
}

}  // namespace vestrel
