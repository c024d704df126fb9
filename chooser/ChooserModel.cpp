// The chooser model's choosing side: opening and closing, the selection, the name field and
// its suggestions, and accepting a folder.
#include "chooser/ChooserModel.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/Platform.h"
#include "support/FolderAccess.h"
#include "support/Texts.h"
#include "support/Windows1251.h"

namespace vestrel {

void ChooserModel::reopen() {
  resultName.clear();
  installFolder.clear();
  if (currentPath.empty()) {
    if (!loadDrives()) {
      raise(text::kChooserErrorTitle, text::kChooserDrivesFailed);
    }
  } else {
    readFolder(currentPath);
  }
  reloadPending = false;
}

void ChooserModel::close() {
  selectedIndex = -1;
  highlightedIndex = -1;
  nameInput[0] = '\0';
  searchFilter.InputBuf[0] = '\0';
  searchFilter.Build();
  visibleFolders.clear();
  suggestions.clear();
  folders.clear();
  showHidden = false;
  suggestionsOpen = false;
  acceptPending = false;
  reloadPending = true;
  filterDirty = true;
  // Its pop-up closes with the chooser; the next opening starts without it.
  error.reset();
}

void ChooserModel::selectEntry(std::size_t visibleIndex) {
  if (visibleIndex >= visibleFolders.size()) {
    return;
  }
  selectedIndex = static_cast<int>(visibleIndex);
  fillName(folders[visibleFolders[visibleIndex]]);
}

bool ChooserModel::fillName(const ChooserEntry& entry) {
  // Measured in narrow bytes, as the name will be kept: a Cyrillic label takes twice as many
  // bytes as the name it draws.
  if (entry.name.size() > kNameMaxBytes || entry.label.size() >= kNameInputSize) {
    raise(text::kChooserErrorTitle, text::kChooserNameTooLong);
    return false;
  }
  std::memcpy(nameInput, entry.label.c_str(), entry.label.size() + 1);
  return true;
}

bool ChooserModel::typedName(std::string& narrow) {
  if (!platform::utf8ToNarrow(nameInput, narrow)) {
    raise(text::kChooserErrorTitle, text::kChooserUnsupportedName);
    return false;
  }
  return true;
}

bool ChooserModel::nameFits(std::string_view utf8) {
  std::string narrow;
  platform::utf8ToNarrow(utf8, narrow);
  return narrow.size() <= kNameMaxBytes;
}

// Both sides are compared as drawn and typed, in UTF-8.
void ChooserModel::collectSuggestions() {
  selectedIndex = -1;
  highlightedIndex = -1;
  suggestions.clear();
  const std::string typed = foldCase(nameInput);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (foldCase(folders[i].label).find(typed) != std::string::npos) {
      suggestions.push_back(i);
    }
  }
  suggestionsOpen = !suggestions.empty();
}

bool ChooserModel::moveHighlight(int step) {
  if (!suggestionsOpen || suggestions.empty()) {
    return false;
  }
  // Up from the first suggestion goes back to the typed text alone.
  const int last = static_cast<int>(suggestions.size()) - 1;
  highlightedIndex = std::clamp(highlightedIndex + step, -1, last);
  return true;
}

bool ChooserModel::pickSuggestion(std::size_t index) {
  const ChooserEntry& entry = folders[suggestions[index]];
  // The name field holds kNameMaxBytes narrow bytes; a longer name is refused.
  if (entry.name.size() > kNameMaxBytes) {
    raise(text::kChooserErrorTitle, text::kChooserSuggestionTooLong);
    return false;
  }
  fillName(entry);
  suggestionsOpen = false;
  highlightedIndex = -1;
  return true;
}

void ChooserModel::enterName() {
  // The suggestion chosen with Up and Down is picked as a click on it would pick it.
  if (suggestionsOpen && highlightedIndex >= 0 &&
      static_cast<std::size_t>(highlightedIndex) < suggestions.size()) {
    pickSuggestion(static_cast<std::size_t>(highlightedIndex));
  } else if (nameInput[0] != '\0') {
    takeTypedName();
  }
}

bool ChooserModel::takeTypedName() {
  std::string text;
  if (!typedName(text)) {
    return false;
  }
  std::error_code error;
  if (!std::filesystem::is_directory(platform::toFsPath(text), error)) {
    resultName = text;
    acceptPending = true;
    return true;
  }
  // A typed folder path: move there. It is taken as absolute and ending in '/'.
  std::string path = text;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.back() != '/') {
    path += '/';
  }
  nameInput[0] = '\0';
  if (!readFolder(path)) {
    return false;
  }
  currentPath = lastListedPath_;
  pathParts.clear();
  splitPath(currentPath);
  return true;
}

void ChooserModel::selectTypedName() {
  if (nameInput[0] == '\0') {
    return;
  }
  acceptPending = typedName(resultName);
  if (!acceptPending) {
    resultName.clear();
  }
}

bool ChooserModel::finishAccept() {
  acceptPending = false;
  // Every folder listed has an absolute path, so a relative one here would be the chooser's
  // own fault; it is refused rather than returned, saved and installed into.
  const std::string path = validateChoice() ? installFolderOfChoice() : std::string();
  std::string why;
  if (!platform::isAbsoluteFolder(path)) {
    raise(text::kChooserWrongFolderTitle, text::kChooserWrongFolder);
  } else if (!folderWritable(path, why)) {
    // Nothing could be installed there; the player is asked for another folder now rather
    // than told so by every run.
    raise(text::kChooserNotWritableTitle, text::kChooserNotWritable);
  } else {
    installFolder = path;
    return true;
  }
  resultName.clear();
  installFolder.clear();
  return false;
}

bool ChooserModel::validateChoice() const {
  if (selectedIndex >= 0 && static_cast<std::size_t>(selectedIndex) < visibleFolders.size() &&
      folders[visibleFolders[static_cast<std::size_t>(selectedIndex)]].name == resultName) {
    return true;
  }
  // The whole listing counts, hidden entries and ".." included, whatever the filter shows.
  return std::any_of(folders.begin(), folders.end(),
                     [this](const ChooserEntry& entry) { return entry.name == resultName; });
}

std::string ChooserModel::installFolderOfChoice() const {
  if (resultName == "..") {
    // The folder above: accepted as its own path, never as ".../Launcher/../".
    const std::string above =
        currentPath.substr(0, currentPath.empty() ? 0 : currentPath.size() - 1);
    const std::size_t slash = above.rfind('/');
    return slash == std::string::npos ? std::string() : above.substr(0, slash + 1);
  }
  if (atDriveList()) {
    // A drive accepted from the drive list is that drive's own folder.
    for (const ChooserEntry& entry : folders) {
      if (entry.name == resultName && !entry.drivePath.empty()) {
        return entry.drivePath;
      }
    }
  }
  return currentPath + resultName + "/";
}

}  // namespace vestrel
