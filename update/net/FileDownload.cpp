#include "update/net/FileDownload.h"

#include "platform/Platform.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/RunContext.h"
#include "update/lists/ListRules.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/DiskSpace.h"
#include "update/net/FileServer.h"
#include "update/net/Transfer.h"

namespace vestrel {

struct FileDownload::Parts {
  Transfer transfer;
  std::string finalPath;  // the name the verified body takes
  std::string logName;
  const ReleasedFile* released = nullptr;  // what the signed release says of the file
};

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
  Transfer& t = parts_->transfer;
  if (!openTransfer(t, kFileFetch, parts_->finalPath + kPartialSuffix, failure)) {
    return false;
  }
  t.temporaryPath = t.writePath;
  CURL* easy = t.curl.get();
  const ReleasedFile* released = parts_->released = releasedFile(state, localPath);
  t.fileBody = std::make_unique<FileSink>(
      t.file.get(), FileSink::Budget{.disk = &runContext().net.disk,
                                     .folder = root,
                                     .announcedLength = [easy] { return announcedLength(easy); },
                                     .exactLength = released != nullptr ? released->size : 0,
                                     .sha256 = released != nullptr});
  setTransferOptions(t, fileUrl(platform::narrowToUtf8(relative)));
  return true;
}

CURL* FileDownload::handle() const {
  return parts_->transfer.curl.get();
}

std::uint64_t FileDownload::receivedBytes() const {
  const FileSink* body = parts_->transfer.fileBody.get();
  return body != nullptr ? body->received() : 0;
}

std::uint64_t FileDownload::expectedBytes() const {
  CURL* curl = handle();
  return curl != nullptr ? announcedLength(curl) : 0;
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
    return false;
  }
  if (!bodyVouchedFor(state, failure)) {
    return false;
  }
  int error = 0;
  if (!platform::replaceFile(t.temporaryPath, parts_->finalPath, error)) {
    failure = isNoSpaceError(error)
                  ? FetchFailure{FetchFailure::Kind::DiskFull, parts_->finalPath, 0}
                  : FetchFailure{FetchFailure::Kind::Write,
                                 systemText(text::kLocalFileWriteFailed, parts_->finalPath.c_str(),
                                            systemReason(error).c_str())};
    return false;
  }
  t.temporaryPath.clear();
  logLine(text::kDownloaded, parts_->logName.c_str());
  return true;
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
