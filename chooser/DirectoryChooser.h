// The modal dialog in which the player picks the install folder, drawn with Dear ImGui inside
// the installer's window, and the folder listing behind it.
//
// Folder names and paths are narrow text as the platform lists them; everything the dialog
// shows, takes from the keyboard or compares (search, suggestions) is UTF-8. Paths use '/' and
// folders end in '/'.
#pragma once

#include <imgui.h>

#include <cstddef>
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

class DirectoryChooser {
 public:
  DirectoryChooser();

  // Draws the dialog if its pop-up `title` is open (the owner opens it). Returns true on the
  // one frame in which a folder was accepted; resultPath then holds it.
  bool show(const char* title, ImVec2 size);

  // ---- The listing --------------------------------------------------------------------
  // Lists `path`. On failure the location stays as it was, except at an opening
  // (reloadPending), where a folder that is gone gives the working directory instead, and a
  // working directory that narrow text cannot name gives the drive list. A folder without an
  // absolute narrow name is never listed: no path the dialog returns is relative.
  bool readFolder(std::string path);
  // Appends "Computer", the drive and the folders of `path` to pathParts.
  void splitPath(const std::string& path);
  // Moves to the path part `index`; part 0 is the drive list.
  bool openPathPart(std::size_t index);
  // Moves into the folder drawn at `visibleIndex` (an index into the filtered listing).
  bool openEntry(std::size_t visibleIndex);
  // Applies the search text to the listing.
  void refilter();
  static bool lessNoCase(const ChooserEntry& a, const ChooserEntry& b);

  // ---- What the owner sets and reads --------------------------------------------------
  // The accepted folder, on the frame show() returns true.
  std::string resultPath;
  // The folder listed; empty at the drive list. To open somewhere else than the working
  // directory, set it and call splitPath() with it before the first frame.
  std::string currentPath = "./";
  std::vector<std::string> pathParts;
  std::vector<ChooserEntry> folders;
  // Set while the dialog is (re)opening: the next frame lists currentPath afresh.
  bool reloadPending = true;

 private:
  friend struct ChooserTestPeer;

  // A name holds at most 255 narrow bytes. The field keeps UTF-8, where one narrow character
  // takes up to 3 bytes, and its terminator.
  static constexpr std::size_t kNameMaxBytes = 255;
  static constexpr std::size_t kNameInputSize = 3 * kNameMaxBytes + 1;

  bool loadDrives();
  // Fills the listing from an open folder reached by `path`, sorted and filtered.
  void listFolder(platform::DirectoryStream& stream, const std::string& path);
  bool atDriveList() const { return pathParts.size() == 1; }
  // How many rows fit `usable` pixels of height (itemsPerColumn_) and how many columns the
  // listing then takes.
  int layOutColumns(float usable);
  void clearListing();
  void setOpenFolderError();
  void setUnsupportedNameError();
  // Puts an entry's label into the name field; false (and the error texts set) when the
  // entry's name is longer than a name may be.
  bool fillName(const ChooserEntry& entry);
  // The name field's text as narrow text; false (and the error texts set) when it has
  // characters narrow text cannot hold.
  bool typedName(std::string& narrow);
  bool validateChoice();
  std::string chosenPath() const;

  bool drawNavigationBar();
  bool drawPathButtons(ImVec2 size);
  bool drawOverflowMenu(std::size_t firstHidden);
  void drawSearchField(ImVec2 size);
  bool drawListing();
  bool drawNameBar();
  bool takeTypedName();
  void collectSuggestions();
  // Drawn while the name field is active, or was until a click in this frame (the click may
  // be the one that picks a suggestion), or while the list itself has the keyboard focus.
  bool drawSuggestions(bool nameFieldLive);
  // Copies the suggestion `index` into the name field and closes the list.
  bool pickSuggestion(std::size_t index);
  // The name field's callback: Up and Down move through the suggestions, and an edit that
  // makes the name longer than kNameMaxBytes narrow bytes is taken back.
  static int nameFieldEvent(ImGuiInputTextCallbackData* data);
  bool drawButtons();
  void drawErrorPopup();
  void closeChooser();

  std::string resultName_;
  // Where the name field was drawn, for the suggestion list under it.
  ImVec2 suggestionPos_{0, 0};
  ImVec2 suggestionSize_{0, 0};
  int itemsPerColumn_ = 12;
  int selectedIndex_ = -1;       // into visibleFolders_
  int highlightedIndex_ = -1;    // into suggestions_, moved with Up and Down
  bool highlightMoved_ = false;  // the list scrolls to the highlighted suggestion
  bool showHidden_ = false;
  bool suggestionsOpen_ = false;
  bool filterDirty_ = true;
  bool acceptPending_ = false;
  char nameInput_[kNameInputSize] = {};

  std::vector<std::size_t> visibleFolders_;  // indices into folders
  std::vector<std::size_t> suggestions_;     // indices into folders
  std::string errorText_;
  std::string errorTitle_;
  ImGuiTextFilter searchFilter_;
  // The absolute form of the folder the last readFolder listed.
  std::string lastListedPath_;
};

}  // namespace vestrel
