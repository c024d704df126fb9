// The chooser's file-system side: listing a folder, the drive list, and moving between them.
// The location changes only after the new folder was read, so the lists, currentPath and
// pathParts always agree.
#include <algorithm>
#include <cctype>

#include "chooser/ChooserTexts.h"
#include "chooser/DirectoryChooser.h"
#include "platform/Platform.h"

namespace vestrel {

ChooserEntry chooserEntry(std::string name, bool hidden, std::string drivePath) {
  std::string label = platform::narrowToUtf8(name);
  return {std::move(name), hidden, std::move(drivePath), std::move(label)};
}

DirectoryChooser::DirectoryChooser() = default;

void DirectoryChooser::clearListing() {
  visibleFolders.clear();
  visibleFiles.clear();
  suggestions.clear();
  folders.clear();
  files.clear();
  filterDirty = true;
  selectedIndex = -1;
}

void DirectoryChooser::setOpenFolderError() {
  errorTitle = chooser_text::kErrorTitle;
  errorText = chooser_text::kOpenFolderFailed;
}

bool DirectoryChooser::readFolder(std::string path) {
  platform::DirectoryStream stream;
  if (!stream.open(path)) {
    if (!reloadPending) {
      setOpenFolderError();
      return false;
    }
    // The remembered folder is gone: an opening falls back to the working directory.
    pathParts.clear();
    currentPath = path = "./";
    if (!stream.open(path)) {
      setOpenFolderError();
      return false;
    }
  }
  if (pathParts.empty() && path == "./") {
    currentPath = stream.fullPath();
    splitPath(currentPath);
  }
  lastListedPath_ = stream.fullPath();
  clearListing();

  const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
  platform::DirectoryEntry entry;
  while (stream.next(entry)) {
    if (entry.name == ".") {
      continue;
    }
    if (entry.name == "..") {
      folders.push_back(chooserEntry("..", false));
      continue;
    }
    platform::EntryAttributes attributes;
    if (!platform::readEntryAttributes(prefix + entry.name, attributes) || attributes.system) {
      continue;
    }
    if (entry.type == platform::EntryType::Folder) {
      folders.push_back(chooserEntry(entry.name, attributes.hidden));
    } else if (entry.type == platform::EntryType::RegularFile &&
               mode != ChooserMode::SelectFolder) {
      files.push_back(chooserEntry(entry.name, attributes.hidden));
    }
  }
  stream.close();
  std::sort(folders.begin(), folders.end(), &lessNoCase);
  std::sort(files.begin(), files.end(), &lessNoCase);
  refilter();
  return true;
}

bool DirectoryChooser::loadDrives() {
  std::vector<platform::DriveEntry> drives;
  if (!platform::listDrives(drives)) {
    return false;
  }
  clearListing();
  for (platform::DriveEntry& drive : drives) {
    folders.push_back(chooserEntry(std::move(drive.name), false, std::move(drive.path)));
  }
  // Not sorted, and filtered on the next frame when the dialog sees filterDirty.
  return true;
}

void DirectoryChooser::splitPath(const std::string& path) {
  pathParts.push_back(chooser_text::kComputer);
  // The drive comes first: "C:" of "C:/Games/", or "/" where the file system has one root.
  const std::string root = platform::driveRootOf(path);
  std::string rest = path;
  if (!root.empty()) {
    pathParts.push_back(root.size() > 1 && root.back() == '/' ? root.substr(0, root.size() - 1)
                                                              : root);
    rest = path.substr(root.size());
  }
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find('/', start);
    if (end == std::string::npos) {
      end = rest.size();
    }
    if (end > start) {
      pathParts.push_back(rest.substr(start, end - start));
    }
    start = end + 1;
  }
}

bool DirectoryChooser::openPathPart(std::size_t index) {
  if (index >= pathParts.size()) {
    return false;
  }
  if (index == 0) {
    if (!loadDrives()) {
      return false;
    }
    currentPath.clear();
    pathParts.resize(1);
    return true;
  }
  std::string path = platform::driveRootOf(currentPath);
  for (std::size_t i = 2; i <= index; ++i) {
    path += pathParts[i] + "/";
  }
  if (!readFolder(path)) {
    return false;
  }
  pathParts.resize(index + 1);
  currentPath = path;
  return true;
}

bool DirectoryChooser::openEntry(std::size_t visibleIndex) {
  if (visibleIndex >= visibleFolders.size()) {
    return false;
  }
  const ChooserEntry entry = folders[visibleFolders[visibleIndex]];
  const bool fromDrives = atDriveList();
  std::string path;
  if (fromDrives) {
    path = entry.drivePath;
  } else if (entry.name == "..") {
    path = currentPath.substr(0, currentPath.empty() ? 0 : currentPath.size() - 1);
    const std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  } else {
    path = currentPath + entry.name + "/";
  }
  if (!readFolder(path)) {
    return false;
  }
  if (fromDrives) {
    pathParts.clear();
    splitPath(path);
  } else if (entry.name == "..") {
    pathParts.pop_back();
  } else {
    pathParts.push_back(entry.name);
  }
  currentPath = path;
  return true;
}

void DirectoryChooser::refilter() {
  filterDirty = false;
  visibleFolders.clear();
  visibleFiles.clear();
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (searchFilter.PassFilter(folders[i].name.c_str())) {
      visibleFolders.push_back(i);
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (searchFilter.PassFilter(files[i].name.c_str())) {
      visibleFiles.push_back(i);
    }
  }
}

bool DirectoryChooser::lessNoCase(const ChooserEntry& a, const ChooserEntry& b) {
  // Folded through toupper and then tolower under the process locale, compared as ints.
  const char* x = a.name.c_str();
  const char* y = b.name.c_str();
  for (;; ++x, ++y) {
    const int cx = std::tolower(std::toupper(static_cast<unsigned char>(*x)));
    const int cy = std::tolower(std::toupper(static_cast<unsigned char>(*y)));
    if (cx != cy || cx == 0) {
      return cx < cy;
    }
  }
}

}  // namespace vestrel
