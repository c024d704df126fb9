#include "tests/LoneFetches.h"

#include <vector>

#include "update/RunContext.h"
#include "update/net/FileDownload.h"

namespace vestrel {

ListFetch fetchDirList(const std::string& localPath) {
  return fetchList({&kDirListFetch, localPath, localPath});
}

ListFetch fetchFileList(const std::string& localPath) {
  return fetchList({&kFileListFetch, localPath, localPath});
}

ListFetch fetchHashList(const std::string& localPath) {
  return fetchList({&kHashListFetch, localPath, localPath});
}

bool fetchFile(const InstallState& state, const std::string& localPath,
               const std::string& logName) {
  FileDownload download;
  FetchFailure failure;
  std::vector<TransferEnd> ends;
  bool ok = download.start(state, localPath, logName, failure);
  if (ok && !runTransfers({download.handle()}, ends, runContext().run.stopToken())) {
    return false;  // stopped: nothing to report
  }
  ok = ok && download.finish(state, ends[0], failure);
  if (!ok && failure.kind == FetchFailure::Kind::DiskFull) {
    reportDiskFull(state, failure);
  } else if (!ok && failure.kind == FetchFailure::Kind::Refused) {
    reportReleaseRefusal(failure.text);
  } else if (!ok) {
    reportFileFailure(failure);
  }
  return ok;
}

}  // namespace vestrel
