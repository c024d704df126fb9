#include "update/PrepareDirectories.h"

#include <filesystem>
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
#include "update/lists/ListRefusal.h"
#include "update/lists/ListRules.h"
#include "update/net/Fetcher.h"

namespace vestrel {
namespace {

// The install flow cannot go on without its folders: report and end the run.
[[noreturn]] void folderFailure(const std::string& path, const std::error_code& error) {
  fatalReport(ReportOrder::LogFirst,
              {systemText(text::kFolderCreateFailed, path.c_str(), error.message().c_str())},
              platform::narrowText(text::kFolderCreateFailedBox));
}

// Every folder on the way from the install root to `name` that exists as something else
// (a release turned a file into a folder) is moved aside, so that the folder can be made.
void clearWayFor(const std::string& root, const std::string& line) {
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = line.find('/', end + 1);
    const std::string path = root + line.substr(0, end);
    std::error_code error;
    const auto status = std::filesystem::symlink_status(platform::toFsPath(path), error);
    if (status.type() == std::filesystem::file_type::not_found) {
      return;  // nothing stands further in the way
    }
    if (!std::filesystem::is_directory(status)) {
      moveAside(path);
      return;
    }
  }
}

}  // namespace

void makeInstallFolder(const std::string& folder) {
  const std::string adjusted = platform::adjustInstallFolder(folder);
  std::error_code error;
  const std::filesystem::path rootPath = platform::toFsPath(adjusted);
  if (!adjusted.empty() && !std::filesystem::is_directory(rootPath, error)) {
    // One level only: a missing parent is an error, not something to create silently.
    std::filesystem::create_directory(rootPath, error);
    if (error) {
      folderFailure(adjusted, error);
    }
  }
}

bool prepareDirectories(InstallState& state, std::string folder) {
  const std::string adjusted = platform::adjustInstallFolder(std::move(folder));
  state.launcherPath = adjusted;
  if (!setInstallRoot(state, adjusted)) {
    fatalReport(ReportOrder::LogFirst, {systemText(text::kFolderTooLong, adjusted.c_str())},
                platform::narrowText(text::kFolderCreateFailedBox));
  }
  const std::string root = state.installRoot;
  makeInstallFolder(root);
  std::error_code error;

  // With publisher keys, nothing is fetched or made before the signed release is accepted.
  acceptRelease(state);
  const std::string listPath = formatted("%s/udirs.lists", root.c_str());
  switch (fetchReleasedList(state, ListKind::Folders, listPath)) {
    case ListFetch::Received:
      break;
    case ListFetch::Refused:
      endRun();  // the refusal has been reported
    case ListFetch::Failed:
    case ListFetch::NotServed:
      fatalReport(ReportOrder::BoxFirst, {systemText(text::kDirListFailed)},
                  platform::narrowText(text::kRepositoryFailedBox));
  }

  // The whole list is checked before the first folder is made.
  const CheckedList folders = readCheckedList(listPath, ListKind::Folders, root);
  if (!folders.accepted) {
    reportRefusedList("udirs.lists", folders.refusedLine);
    endRun();
  }

  for (const std::string& line : folders.lines) {
    clearWayFor(root, line);
    const std::string name = formatted("%s/%s", root.c_str(), line.c_str());
    std::filesystem::create_directories(platform::toFsPath(name), error);
    if (error) {
      folderFailure(name, error);
    }
  }
  return true;
}

}  // namespace vestrel
