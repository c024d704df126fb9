#include "update/PrepareDirectories.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/FolderAccess.h"
#include "support/FormatText.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/ListRound.h"
#include "update/MoveAside.h"
#include "update/PublisherKeys.h"
#include "update/ReleaseCheck.h"
#include "update/RunContext.h"
#include "update/lists/ListRefusal.h"
#include "update/lists/ListRules.h"

namespace vestrel {
namespace {

// The install flow cannot go on without its folders: the report, before the run ends.
bool folderFailure(const std::string& path, const std::string& reason) {
  fatalReport(ReportOrder::LogFirst,
              {systemText(text::kFolderCreateFailed, path.c_str(), reason.c_str())},
              platform::narrowText(text::kFolderCreateFailedBox));
  return false;
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

bool makeInstallFolder(const std::string& folder, std::string& why) {
  const std::string adjusted = platform::adjustInstallFolder(folder);
  std::error_code error;
  const std::filesystem::path rootPath = platform::toFsPath(adjusted);
  if (adjusted.empty()) {
    why = std::make_error_code(std::errc::no_such_file_or_directory).message();
    return false;
  }
  // A folder that is gone is made again with everything above it, as listed folders are; a
  // drive that is gone, or a place the player may not write, is found out here.
  if (!std::filesystem::is_directory(rootPath, error)) {
    std::filesystem::create_directories(rootPath, error);
    if (error) {
      why = error.message();
      return false;
    }
  }
  return folderWritable(adjusted, why);
}

bool prepareDirectories(InstallState& state, std::string folder) {
  const std::string root = platform::adjustInstallFolder(std::move(folder));
  state.installFolder = root;
  if (!installFolderFits(root)) {
    fatalReport(ReportOrder::LogFirst, {systemText(text::kFolderTooLong, root.c_str())},
                platform::narrowText(text::kFolderCreateFailedBox));
    return false;
  }
  std::string why;
  if (!makeInstallFolder(root, why)) {
    return folderFailure(root, why);
  }

  // The release and the lists come in one round; nothing is made from a list before the
  // signed release (with publisher keys) has been accepted and names it.
  RunContext& context = runContext();
  ListRound& round = context.lists;
  if (!round.fetch(root, !publisherKeys().empty()) || !context.run.awaitWindow() ||
      !acceptRelease(state, round)) {
    return false;
  }
  switch (round.takeList(state, ListKind::Folders)) {
    case ListFetch::Received:
      break;
    case ListFetch::Refused:  // reported
    case ListFetch::Stopped:
      return false;
    case ListFetch::Failed:
    case ListFetch::NotServed:
      fatalReport(ReportOrder::BoxFirst, {systemText(text::kDirListFailed)},
                  platform::narrowText(text::kRepositoryFailedBox));
      return false;
  }

  // The whole list is checked before the first folder is made.
  const CheckedList folders =
      readCheckedList(joinPath(root, kFolderListName), ListKind::Folders, root);
  if (!folders.accepted) {
    reportRefusedList(kFolderListName, folders.refusedLine);
    return false;
  }

  std::error_code error;
  for (const std::string& line : folders.lines) {
    clearWayFor(root, line);
    const std::string name = joinPath(root, line);
    std::filesystem::create_directories(platform::toFsPath(name), error);
    if (error) {
      return folderFailure(name, error.message());
    }
  }
  return true;
}

}  // namespace vestrel
