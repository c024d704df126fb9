#include "update/PrepareDirectories.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/Fetcher.h"
#include "update/InstallState.h"
#include "update/ListRefusal.h"
#include "update/ListRules.h"

namespace vestrel {
namespace {

// The install flow cannot go on without its folders: report and end the run.
[[noreturn]] void folderFailure(const std::string& path, const std::error_code& error) {
  fatalReport(ReportOrder::LogFirst,
              {systemText(text::kFolderCreateFailed, path.c_str(), error.message().c_str())},
              platform::narrowText(text::kFolderCreateFailedBox));
}

}  // namespace

bool prepareDirectories(InstallState& state, std::string folder) {
  const std::string adjusted = platform::adjustInstallFolder(std::move(folder));
  state.launcherPath = adjusted;
  if (!setInstallRoot(state, adjusted)) {
    fatalReport(ReportOrder::LogFirst, {systemText(text::kFolderTooLong, adjusted.c_str())},
                platform::narrowText(text::kFolderCreateFailedBox));
  }
  const std::string root = state.installRoot;

  std::error_code error;
  const std::filesystem::path rootPath = platform::toFsPath(root);
  if (!std::filesystem::is_directory(rootPath, error)) {
    // One level only: a missing parent is an error, not something to create silently.
    std::filesystem::create_directory(rootPath, error);
    if (error) {
      folderFailure(root, error);
    }
  }

  const std::string listPath = formatted("%s/udirs.lists", root.c_str());
  switch (fetchDirList(listPath)) {
    case ListFetch::Received:
      break;
    case ListFetch::Refused:
      endRun();  // the refusal has been reported
    case ListFetch::Failed:
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
    const std::string name = formatted("%s/%s", root.c_str(), line.c_str());
    std::filesystem::create_directories(platform::toFsPath(name), error);
    if (error) {
      folderFailure(name, error);
    }
  }
  return true;
}

}  // namespace vestrel
