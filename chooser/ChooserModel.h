// What the folder chooser knows and decides, apart from how it is drawn: the location, the
// listing and its filter, the selection and the name field, the error the player has not yet
// dismissed, and the accepted folder.
//
// Folder names and paths are narrow text as the platform lists them; everything the dialog
// shows, takes from the keyboard or compares (search, suggestions) is UTF-8. Paths use '/' and
// folders end in '/'.
#pragma once

#include <imgui.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel::platform {
class DirectoryStream;
}  // namespace vestrel::platform

namespace vestrel {

// One listed folder (or, at the drive list, one drive).
struct ChooserEntry {
  std::string name;
  bool hidden = false;
  // At the drive list: the folder that opening this entry moves to.
  std::string drivePath;
  // The name as the GUI draws it (UTF-8), converted once when the entry is listed.
  std::string label;
};

// An entry with its label made from its narrow name.
ChooserEntry chooserEntry(std::string name, bool hidden, std::string drivePath = {});

// An error for the player, kept until the player dismisses it.
struct ChooserError {
  std::string title;
  std::string text;
};

class ChooserModel {
 public:
  // A name holds at most 255 narrow bytes. The field keeps UTF-8, where one narrow character
  // takes up to 3 bytes, and its terminator.
  static constexpr std::size_t kNameMaxBytes = 255;
  static constexpr std::size_t kNameInputSize = 3 * kNameMaxBytes + 1;

  // ---- Opening and closing ------------------------------------------------------------
  // Empties the results and lists currentPath afresh (the drive list when it is empty).
  void reopen();
  // Empties everything but the location, which the next opening lists again, and the
  // results, which the owner reads in the frame the folder was accepted.
  void close();

  // ---- The location and the listing (ChooserNavigation.cpp) ---------------------------
  // Lists `path`. On failure the location stays as it was, except at an opening
  // (reloadPending), where a folder that is gone gives the working directory instead, and a
  // working directory that narrow text cannot name gives the drive list. A folder without an
  // absolute narrow name is never listed: no path the chooser returns is relative.
  bool readFolder(std::string path);
  // Appends "Computer", the drive and the folders of `path` to pathParts.
  void splitPath(const std::string& path);
  // Moves to the path part `index`; part 0 is the drive list.
  bool openPathPart(std::size_t index);
  // Moves into the folder at `visibleIndex` (an index into visibleFolders).
  bool openEntry(std::size_t visibleIndex);
  bool atDriveList() const { return pathParts.size() == 1; }
  // Applies the search text to the listing.
  void refilter();
  // The search text was edited: its terms are parsed again and applied.
  void applySearch();
  static bool lessNoCase(const ChooserEntry& a, const ChooserEntry& b);

  // ---- The selection and the name field -----------------------------------------------
  // A click on the entry at `visibleIndex`: it is selected and its label fills the name.
  void selectEntry(std::size_t visibleIndex);
  // Puts an entry's label into the name field; false (and the error raised) when the entry's
  // name is longer than a name may be.
  bool fillName(const ChooserEntry& entry);
  // The name field's text as narrow text; false (and the error raised) when it has
  // characters narrow text cannot hold.
  bool typedName(std::string& narrow);
  // Whether UTF-8 text fits the name field once made narrow.
  static bool nameFits(std::string_view utf8);
  // The folders whose labels hold the typed text, any case, for the list under the field.
  void collectSuggestions();
  // Up (-1) or Down (+1) through the suggestions; false when there are none to move through.
  bool moveHighlight(int step);
  // Copies the suggestion `index` into the name field and closes the list.
  bool pickSuggestion(std::size_t index);
  // Enter in the name field: the highlighted suggestion if any, otherwise the typed text.
  void enterName();
  // The typed text: a folder path moves there, anything else is the name to accept.
  bool takeTypedName();

  // ---- Accepting ----------------------------------------------------------------------
  // The Select button: the typed name is to be accepted at the end of the frame.
  void selectTypedName();
  // Accepts resultName if it names a listed folder; false (and the error raised) otherwise.
  bool finishAccept();
  bool validateChoice() const;
  std::string installFolderOfChoice() const;
  bool accepted() const { return !resultName.empty() && !installFolder.empty(); }

  // ---- The location -------------------------------------------------------------------
  // The folder listed; empty at the drive list. To open somewhere else than the working
  // directory, set it and call splitPath() with it before the first frame.
  std::string currentPath = "./";
  std::vector<std::string> pathParts;
  // Set while the chooser is (re)opening: the next frame lists currentPath afresh.
  bool reloadPending = true;

  // ---- The listing and its filter -----------------------------------------------------
  std::vector<ChooserEntry> folders;
  // The search text, in Dear ImGui's filter syntax ("inc, -exc").
  ImGuiTextFilter searchFilter;
  bool showHidden = false;
  std::vector<std::size_t> visibleFolders;  // indices into folders
  // The listing changed without being filtered; the next frame filters it.
  bool filterDirty = true;

  // ---- The selection and the name field -----------------------------------------------
  int selectedIndex = -1;  // into visibleFolders
  char nameInput[kNameInputSize] = {};
  std::vector<std::size_t> suggestions;  // indices into folders
  int highlightedIndex = -1;             // into suggestions, moved with Up and Down
  bool suggestionsOpen = false;

  // ---- The error and the results ------------------------------------------------------
  std::optional<ChooserError> error;
  bool acceptPending = false;
  std::string resultName;
  // The accepted folder, in the frame the dialog's show() returns true.
  std::string installFolder;

 private:
  void raise(const char* title, const char* text) { error = ChooserError{title, text}; }
  bool loadDrives();
  // Fills the listing from an open folder reached by `path`, sorted and filtered.
  void listFolder(platform::DirectoryStream& stream, const std::string& path);
  void clearListing();

  // The absolute form of the folder the last readFolder listed.
  std::string lastListedPath_;
};

}  // namespace vestrel
