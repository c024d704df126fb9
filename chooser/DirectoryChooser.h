// The modal dialog in which the player picks the install folder, drawn with Dear ImGui inside
// the installer's window, and the folder listing behind it.
//
// Folder names and paths are narrow text as the platform lists them; the dialog's own texts
// are UTF-8. Paths use '/' and folders end in '/'.
#pragma once

#include <imgui.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vestrel {

enum class ChooserMode { SelectFolder = 0, OpenFile = 1, SaveFile = 2 };

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
  bool show(const char* title, ChooserMode mode, ImVec2 size, const char* fileTypes);

  // ---- The listing --------------------------------------------------------------------
  bool readFolder(std::string path);
  bool loadDrives();
  void splitPath(const std::string& path);
  bool openPathPart(std::size_t index);
  bool openEntry(std::size_t visibleIndex);
  void refilter();
  static bool lessNoCase(const ChooserEntry& a, const ChooserEntry& b);

  // ---- State ---------------------------------------------------------------------------
  std::string resultName;
  std::string resultPath;
  ImVec2 minSize{500, 300};
  ImVec2 maxSize{0, 0};
  ImVec2 suggestionPos{0, 0};
  ImVec2 suggestionSize{0, 0};
  ChooserMode mode = ChooserMode::SelectFolder;
  int itemsPerColumn = 12;
  int selectedIndex = -1;
  float columnWidth = 280;
  float typeBoxWidth = -1;
  bool showHidden = false;
  bool suggestionsOpen = false;
  bool selectedIsFolder = false;
  bool reloadPending = true;
  bool filterDirty = true;
  bool acceptPending = false;
  static constexpr std::size_t kNameInputSize = 256;
  char nameInput[kNameInputSize] = {};

  std::string currentPath = "./";
  std::vector<std::string> pathParts;
  std::vector<ChooserEntry> folders;
  std::vector<ChooserEntry> files;  // filled only by the file modes, which this program lacks
  std::vector<std::size_t> visibleFolders;  // indices into folders
  std::vector<std::size_t> visibleFiles;
  std::vector<std::size_t> suggestions;  // indices into folders
  std::string errorText;
  std::string errorTitle;
  ImGuiTextFilter searchFilter;

 private:
  bool atDriveList() const { return pathParts.size() == 1; }
  void clearListing();
  void setOpenFolderError();
  // Puts a drawn label into the name field; false (and the error texts set) when it cannot
  // hold it.
  bool fillName(const std::string& label);
  bool validateChoice();
  std::string chosenPath() const;

  bool drawNavigationBar();
  bool drawListing();
  bool drawNameBar();
  bool drawSuggestions();
  bool drawButtons();
  void drawErrorPopup();
  void closeChooser();
  // The absolute form of the folder the last readFolder listed.
  std::string lastListedPath_;
};

}  // namespace vestrel
