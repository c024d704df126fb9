// The chooser model's file-system side: listing a folder, the drive list, moving between
// them, and the search over the listing. The location changes only after the new folder was
// read, so the lists, currentPath and pathParts always agree.
#include <algorithm>

#include "chooser/ChooserModel.h"
#include "platform/Platform.h"
#include "support/Texts.h"
#include "support/Windows1251.h"

namespace vestrel {

ChooserEntry chooserEntry(std::string name, bool hidden, std::string drivePath) {
  std::string label = platform::narrowToUtf8(name);
  return {std::move(name), hidden, std::move(drivePath), std::move(label)};
}

void ChooserModel::clearListing() {
  visibleFolders.clear();
  suggestions.clear();
  folders.clear();
  filterDirty = true;
  selectedIndex = -1;
  highlightedIndex = -1;
}

bool ChooserModel::readFolder(std::string path) {
  platform::DirectoryStream stream;
  if (!stream.open(path)) {
    if (!reloadPending) {
      raise(text::kChooserErrorTitle, text::kChooserOpenFolderFailed);
      return false;
    }
    // The remembered folder is gone: an opening falls back to the working directory.
    pathParts.clear();
    currentPath = path = "./";
    if (!stream.open(path)) {
      raise(text::kChooserErrorTitle, text::kChooserOpenFolderFailed);
      return false;
    }
  }
  // A folder reached through a relative path whose absolute name narrow text cannot hold
  // (only the working directory or a typed relative path leads there) has no path to return.
  if (!platform::isAbsoluteFolder(stream.fullPath())) {
    stream.close();
    if (reloadPending && path == "./") {
      // The installer was started in such a folder: the dialog opens at the drive list.
      if (!loadDrives()) {
        raise(text::kChooserErrorTitle, text::kChooserOpenFolderFailed);
        return false;
      }
      currentPath.clear();
      pathParts.assign(1, text::kChooserComputer);
      return true;
    }
    if (stream.fullPath().empty()) {
      raise(text::kChooserErrorTitle, text::kChooserUnsupportedName);
    } else {
      raise(text::kChooserErrorTitle, text::kChooserOpenFolderFailed);
    }
    return false;
  }
  // The first listing of the working directory names it in full, so that the path bar and
  // the accepted path are absolute.
  if (pathParts.empty() && path == "./") {
    currentPath = stream.fullPath();
    splitPath(currentPath);
  }
  lastListedPath_ = stream.fullPath();
  listFolder(stream, path);
  return true;
}

void ChooserModel::listFolder(platform::DirectoryStream& stream, const std::string& path) {
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
    }
  }
  stream.close();
  std::sort(folders.begin(), folders.end(), &lessNoCase);
  refilter();
}

bool ChooserModel::loadDrives() {
  std::vector<platform::DriveEntry> drives;
  if (!platform::listDrives(drives)) {
    return false;
  }
  clearListing();
  for (platform::DriveEntry& drive : drives) {
    folders.push_back(chooserEntry(std::move(drive.name), false, std::move(drive.path)));
  }
  // Not sorted: the drives keep the order the system lists them in. Filtered on the next
  // frame, when the dialog sees filterDirty.
  return true;
}

void ChooserModel::splitPath(const std::string& path) {
  pathParts.push_back(text::kChooserComputer);
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

bool ChooserModel::openPathPart(std::size_t index) {
  if (index >= pathParts.size()) {
    return false;
  }
  if (index == 0) {
    if (!loadDrives()) {
      raise(text::kChooserErrorTitle, text::kChooserDrivesFailed);
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

bool ChooserModel::openEntry(std::size_t visibleIndex) {
  if (visibleIndex >= visibleFolders.size()) {
    return false;
  }
  // A copy: reading the new folder replaces the list it comes from.
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

void ChooserModel::refilter() {
  filterDirty = false;
  visibleFolders.clear();
  // The search keeps Dear ImGui's filter syntax ("inc, -exc", split and trimmed by its Build)
  // but not its matching, which compares bytes through toupper(): that ignores the case of
  // ASCII letters only, and under a UTF-8 C library locale never matches a byte above 0x7F.
  // The typed terms are UTF-8, so they are matched against the labels, both sides folded.
  // The terms are tried in the order typed, and the first that decides wins: an exclusion
  // that matches hides the name, an inclusion that matches shows it. A name no term decides
  // is shown only when there are no inclusions.
  struct Term {
    std::string text;
    bool excludes = false;
  };
  std::vector<Term> terms;
  bool anyInclusion = false;
  for (const ImGuiTextFilter::ImGuiTextRange& range : searchFilter.Filters) {
    const std::string term =
        foldCase(std::string_view(range.b, static_cast<std::size_t>(range.e - range.b)));
    if (term.size() > 1 && term[0] == '-') {
      terms.push_back({term.substr(1), true});
    } else if (!term.empty() && term[0] != '-') {
      terms.push_back({term, false});
      anyInclusion = true;
    }
  }
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const std::string label = foldCase(folders[i].label);
    const auto decides = std::find_if(terms.begin(), terms.end(), [&label](const Term& term) {
      return label.find(term.text) != std::string::npos;
    });
    if (decides != terms.end() ? !decides->excludes : !anyInclusion) {
      visibleFolders.push_back(i);
    }
  }
}

void ChooserModel::applySearch() {
  searchFilter.Build();
  refilter();
}

bool ChooserModel::lessNoCase(const ChooserEntry& a, const ChooserEntry& b) {
  // The labels folded as the search folds them, so that the letters of the players' language
  // ignore case too, compared as unsigned bytes: folding to lower case puts '_' before every
  // letter.
  return foldCase(a.label) < foldCase(b.label);
}

}  // namespace vestrel
