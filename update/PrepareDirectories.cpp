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
#include "update/ManifestLines.h"

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
  if (!fetchDirList(listPath)) {
    fatalReport(ReportOrder::BoxFirst, {systemText(text::kDirListFailed)},
                platform::narrowText(text::kRepositoryFailedBox));
  }

  // The whole list is checked before the first folder is made.
  std::vector<std::string> folders;
  std::string refused;
  bool ok = true;
  readListLines(listPath, [&](const std::string& line) {
    std::string name = formatted("%s/%s", root.c_str(), line.c_str());
    if (leavesInstallRoot(line) || line.find('\0') != std::string::npos ||
        name.size() >= kPathBufferSize) {
      refused = line;
      ok = false;
      return false;
    }
    folders.push_back(std::move(name));
    return true;
  });
  if (!ok) {
    reportRefusedList("udirs.lists", refused);
    endRun();
  }

  for (const std::string& name : folders) {
    std::filesystem::create_directories(platform::toFsPath(name), error);
    if (error) {
      folderFailure(name, error);
    }
  }
  return true;
}

}  // namespace vestrel
