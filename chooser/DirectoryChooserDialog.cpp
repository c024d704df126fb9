// The chooser's dialog: a modal pop-up with a path bar, a search field, a column listing, a
// name field with suggestions, the hidden-folders checkbox and the two buttons.
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "chooser/ChooserTexts.h"
#include "chooser/DirectoryChooser.h"
#include "platform/Platform.h"

namespace vestrel {
namespace {

const ImVec4 kYellow{0.882f, 0.745f, 0.078f, 1.0f};
const ImVec4 kFaintButton{1.0f, 1.0f, 1.0f, 0.01f};
const ImVec4 kWhite{1.0f, 1.0f, 1.0f, 1.0f};
const ImVec4 kFrame{0.125f, 0.125f, 0.125f, 1.0f};
const ImVec4 kListBackground{0.1f, 0.1f, 0.1f, 1.0f};

float roundedWidth(const char* text) {
  return std::floor(ImGui::CalcTextSize(text).x + 0.99999f);
}

float frameHeight() {
  return ImGui::GetFontSize() + 2 * ImGui::GetStyle().FramePadding.y;
}

float frameHeightWithSpacing() {
  return frameHeight() + ImGui::GetStyle().ItemSpacing.y;
}

ImVec2 buttonSize(const char* label) {
  const ImGuiStyle& style = ImGui::GetStyle();
  return {roundedWidth(label) + 2 * style.FramePadding.x,
          ImGui::CalcTextSize(label).y + 2 * style.FramePadding.y};
}

void helpMarker(const char* text) {
  ImGui::TextDisabled("(?)");
  if (ImGui::IsItemHovered()) {
    ImGui::BeginTooltip();
    ImGui::PushTextWrapPos(ImGui::GetFontSize() * 35.0f);
    ImGui::TextUnformatted(text);
    ImGui::PopTextWrapPos();
    ImGui::EndTooltip();
  }
}

// Names are narrow text; the GUI draws UTF-8.
std::string display(const std::string& narrow) {
  return platform::narrowToUtf8(narrow);
}

}  // namespace

bool DirectoryChooser::show(const char* title, ChooserMode chooserMode, ImVec2 size,
                            const char* fileTypes) {
  (void)fileTypes;  // only the file modes filter by type
  mode = chooserMode;
  const ImGuiIO& io = ImGui::GetIO();
  maxSize = io.DisplaySize;

  ImGui::SetNextWindowSizeConstraints(minSize, maxSize);
  ImGui::SetNextWindowPos(ImVec2(io.DisplaySize.x * 0.5f, io.DisplaySize.y * 0.5f),
                          ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(ImVec2(std::max(minSize.x, size.x), std::max(minSize.y, size.y)),
                           ImGuiCond_Appearing);
  if (!ImGui::BeginPopupModal(title, nullptr,
                              ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                  ImGuiWindowFlags_NoScrollbar |
                                  ImGuiWindowFlags_NoScrollWithMouse)) {
    return false;
  }

  bool failed = false;
  if (reloadPending) {
    resultName.clear();
    resultPath.clear();
    failed |= currentPath.empty() ? !loadDrives() : !readFolder(currentPath);
    reloadPending = false;
  }
  failed |= !drawNavigationBar();
  failed |= !drawListing();
  failed |= !drawNameBar();
  failed |= !drawButtons();

  if (acceptPending) {
    acceptPending = false;
    if (validateChoice()) {
      resultPath = chosenPath();
      closeChooser();
    } else {
      resultName.clear();
      resultPath.clear();
      failed = true;
      errorTitle = chooser_text::kWrongFolderTitle;
      errorText = chooser_text::kWrongFolder;
    }
  }
  if (failed && !errorTitle.empty()) {
    ImGui::OpenPopup(errorTitle.c_str());
  }
  drawErrorPopup();
  ImGui::EndPopup();
  return !resultName.empty() && !resultPath.empty();
}

bool DirectoryChooser::validateChoice() {
  if (selectedIndex >= 0 && static_cast<std::size_t>(selectedIndex) < visibleFolders.size() &&
      folders[visibleFolders[static_cast<std::size_t>(selectedIndex)]].name == resultName) {
    return true;
  }
  // The whole listing counts, hidden entries and ".." included, whatever the filter shows.
  return std::any_of(folders.begin(), folders.end(),
                     [this](const ChooserEntry& entry) { return entry.name == resultName; });
}

std::string DirectoryChooser::chosenPath() const {
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

bool DirectoryChooser::fillName(const std::string& text) {
  if (text.size() >= kNameInputSize) {
    errorTitle = chooser_text::kErrorTitle;
    errorText = chooser_text::kNameTooLong;
    return false;
  }
  std::memcpy(nameInput, text.c_str(), text.size() + 1);
  return true;
}

bool DirectoryChooser::drawNavigationBar() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float width = ImGui::GetWindowWidth();
  const float contentWidth = width - 2 * style.WindowPadding.x;
  const float barHeight = frameHeight() + 2 * style.WindowPadding.y;
  const float searchWidth = roundedWidth("Random") + 140;
  const float pathBarWidth = contentWidth - style.ItemSpacing.x - searchWidth;
  const ImGuiWindowFlags flags = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_AlwaysAutoResize;
  bool ok = true;

  ImGui::BeginChild("##NavigationWindow", ImVec2(pathBarWidth, barHeight), true, flags);
  ImGui::PushStyleColor(ImGuiCol_Text, kYellow);
  const std::size_t parts = pathParts.size();
  for (std::size_t i = 0; i < parts; ++i) {
    ImGui::PushID(static_cast<int>(i));
    const bool last = i + 1 == parts;
    if (ImGui::Button(display(pathParts[i]).c_str()) && !last) {
      ok &= openPathPart(i);
    }
    ImGui::PopID();
    // A move shortens pathParts; the rest of the bar is drawn from the next frame on.
    if (last || i + 1 >= pathParts.size()) {
      break;
    }
    ImGui::SameLine(0, 0);
    float needed = roundedWidth(display(pathParts[i + 1]).c_str());
    if (i + 2 < pathParts.size()) {
      needed += frameHeight() + roundedWidth(">>");
    }
    ImGui::PushID(static_cast<int>(i));
    if (ImGui::GetCursorPosX() + needed < pathBarWidth - 3 * style.WindowPadding.x) {
      ImGui::PushStyleColor(ImGuiCol_Button, kFaintButton);
      ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
      ImGui::ArrowButton("##Right", ImGuiDir_Right);
      ImGui::SameLine(0, 0);
      ImGui::PopStyleColor(2);
      ImGui::PopID();
      continue;
    }
    ImGui::PushStyleColor(ImGuiCol_Button, kFaintButton);
    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    if (ImGui::Button(">>")) {
      ImGui::OpenPopup("##NavBarDropboxPopup");
    }
    if (ImGui::BeginPopup("##NavBarDropboxPopup")) {
      ImGui::PushStyleColor(ImGuiCol_FrameBg, kFrame);
      const float lineHeight = ImGui::GetTextLineHeightWithSpacing();
      if (ImGui::BeginListBox("##NavBarDropBox", ImVec2(0, 5 * lineHeight))) {
        ImGui::PushStyleColor(ImGuiCol_Text, kYellow);
        for (std::size_t j = i + 1; j < pathParts.size(); ++j) {
          ImGui::PushID(static_cast<int>(j));
          const bool clicked = ImGui::Selectable(display(pathParts[j]).c_str());
          ImGui::PopID();
          if (clicked && j + 1 != pathParts.size()) {
            ok &= openPathPart(j);
            ImGui::CloseCurrentPopup();
            break;
          }
        }
        ImGui::PopStyleColor();
        ImGui::EndListBox();
      }
      ImGui::PopStyleColor();
      ImGui::EndPopup();
    }
    ImGui::PopStyleColor(2);
    ImGui::PopID();
    break;
  }
  ImGui::PopStyleColor();
  ImGui::EndChild();
  ImGui::SameLine();

  ImGui::BeginChild("##SearchWindow", ImVec2(searchWidth, barHeight), true, flags);
  const float fieldWidth =
      searchWidth - 2 * style.WindowPadding.x - (roundedWidth("(?)") + style.ItemSpacing.x);
  if (fieldWidth != 0) {
    ImGui::SetNextItemWidth(fieldWidth);
  }
  if (ImGui::InputText("##SearchBar", searchFilter.InputBuf, sizeof searchFilter.InputBuf)) {
    searchFilter.Build();
    refilter();
  } else if (filterDirty) {
    refilter();
  }
  if (ImGui::GetFocusID() == ImGui::GetID("##SearchBar")) {
    selectedIndex = -1;
  }
  ImGui::SameLine();
  helpMarker("Filter (inc, -exc)");
  ImGui::EndChild();
  return ok;
}

bool DirectoryChooser::drawListing() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float height = ImGui::GetWindowHeight();
  const float listHeight = height - 2.5f * frameHeightWithSpacing() - style.WindowPadding.y -
                           ImGui::GetCursorPosY() - style.ItemSpacing.y;
  const float usable = listHeight - 2 * style.WindowPadding.y;
  if (usable <= 0) {
    return true;
  }
  const float itemHeight = ImGui::CalcTextSize("").y + style.ItemSpacing.y;
  itemsPerColumn = static_cast<int>(std::max(usable / itemHeight, 1.0f));

  // Never more than 64 columns: beyond that the columns grow taller instead.
  const float entries = static_cast<float>(visibleFolders.size() + visibleFiles.size());
  int columns = static_cast<int>(std::max(std::ceil(entries / itemsPerColumn), 1.0f));
  if (columns > 64) {
    itemsPerColumn +=
        static_cast<int>(std::ceil(static_cast<float>(columns - 64) * itemsPerColumn / 64.0f));
    columns = static_cast<int>(std::max(std::ceil(entries / itemsPerColumn), 1.0f));
  }

  float contentWidth = columns * columnWidth;
  if (contentWidth < ImGui::GetWindowWidth() - 4 * style.WindowPadding.x) {
    contentWidth = 0;
  }
  ImGui::SetNextWindowContentSize(ImVec2(contentWidth, 0));
  ImGui::BeginChild("##ScrollingRegion", ImVec2(0, listHeight), true,
                    ImGuiWindowFlags_HorizontalScrollbar);
  ImGui::Columns(columns);

  bool ok = true;
  int counted = 0;
  ImGui::PushStyleColor(ImGuiCol_Text, kYellow);
  for (std::size_t k = 0; k < visibleFolders.size(); ++k) {
    const ChooserEntry& entry = folders[visibleFolders[k]];
    if (entry.hidden && !showHidden) {
      continue;
    }
    ++counted;
    ImGui::PushID(static_cast<int>(k));
    const bool selected = selectedIsFolder && static_cast<int>(k) == selectedIndex;
    const bool clicked =
        ImGui::Selectable(entry.label.c_str(), selected, ImGuiSelectableFlags_AllowDoubleClick);
    ImGui::PopID();
    if (clicked) {
      selectedIndex = static_cast<int>(k);
      selectedIsFolder = true;
      if (mode == ChooserMode::SelectFolder) {
        ok &= fillName(entry.label);
      }
      if (ImGui::GetIO().MouseClickedCount[ImGuiMouseButton_Left] == 2) {
        ok &= openEntry(k);
        break;
      }
    }
    if (counted % itemsPerColumn == 0) {
      ImGui::NextColumn();
    }
  }
  ImGui::PopStyleColor();
  // Files are listed only by the file modes, which this program does not use.
  ImGui::Columns(1);
  ImGui::EndChild();
  return ok;
}

bool DirectoryChooser::drawNameBar() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const char* label =
      mode == ChooserMode::SaveFile ? chooser_text::kSaveLabel : chooser_text::kInstallLabel;
  const ImVec2 remembered = ImGui::GetCursorPos();
  const float width = ImGui::GetWindowWidth();
  const float height = ImGui::GetWindowHeight();
  const float fieldWidth =
      width - 2 * style.WindowPadding.x - (roundedWidth(label) + style.ItemSpacing.x);
  if (typeBoxWidth < 0) {
    typeBoxWidth =
        frameHeightWithSpacing() + roundedWidth("All Valid Files") + style.ItemSpacing.x + 10;
  }
  bool ok = true;

  ImGui::SetCursorPosY(height - 2 * style.WindowPadding.y - 2 * frameHeightWithSpacing());
  ImGui::Text("%s", label);
  ImGui::SameLine();
  const ImVec2 windowPos = ImGui::GetWindowPos();
  const ImVec2 cursor = ImGui::GetCursorPos();
  suggestionPos = ImVec2(windowPos.x + cursor.x, windowPos.y + cursor.y);
  suggestionSize = ImVec2(fieldWidth, 0);

  ImGui::PushItemWidth(fieldWidth);
  const bool entered = ImGui::InputTextWithHint(
      "##FileNameInput", chooser_text::kNameHint, nameInput, kNameInputSize,
      ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
  const bool edited = ImGui::IsItemEdited() || ImGui::IsItemActivated();
  ImGui::PopItemWidth();

  if (entered && nameInput[0] != '\0') {
    const std::string text = platform::narrowText(nameInput);
    std::error_code error;
    if (std::filesystem::is_directory(platform::toFsPath(text), error)) {
      // A typed folder path: move there. It is taken as absolute and ending in '/'.
      std::string path = text;
      std::replace(path.begin(), path.end(), '\\', '/');
      if (path.back() != '/') {
        path += '/';
      }
      if (readFolder(path)) {
        currentPath = lastListedPath_;
        pathParts.clear();
        splitPath(currentPath);
      } else {
        ok = false;
      }
      nameInput[0] = '\0';
    } else {
      resultName = text;
      acceptPending = true;
    }
  }
  if (edited) {
    selectedIndex = -1;
    suggestions.clear();
    const std::string typed = platform::narrowText(nameInput);
    for (std::size_t i = 0; i < folders.size(); ++i) {
      const std::string& name = folders[i].name;
      if (ImStristr(name.c_str(), name.c_str() + name.size(), typed.c_str(),
                    typed.c_str() + typed.size()) != nullptr) {
        suggestions.push_back(i);
      }
    }
    suggestionsOpen = !suggestions.empty();
  }
  ok &= drawSuggestions();
  ImGui::SetCursorPos(remembered);
  return ok;
}

bool DirectoryChooser::drawSuggestions() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float fh = frameHeight();
  suggestionSize.y = std::min((static_cast<float>(suggestions.size()) + 1) * fh, 8 * fh) +
                     2 * style.WindowPadding.y;
  const ImGuiID scope = ImGui::GetID("##InputBarComboBoxListScope");
  const bool visible = suggestionsOpen && (ImGui::GetFocusedFocusScope() == scope ||
                                           ImGui::GetActiveID() == ImGui::GetID("##FileNameInput"));
  if (!visible) {
    return true;
  }
  bool ok = true;
  ImGui::PushStyleColor(ImGuiCol_ChildBg, kListBackground);
  ImGui::PushStyleColor(ImGuiCol_FrameBg, kFrame);
  ImGui::SetNextWindowBgAlpha(1.0f);
  ImGui::SetNextWindowPos(ImVec2(suggestionPos.x, suggestionPos.y + frameHeightWithSpacing()),
                          ImGuiCond_Always);
  ImGui::PushClipRect(ImVec2(0, 0), ImGui::GetIO().DisplaySize, false);
  ImGui::BeginChild("##InputBarComboBox", suggestionSize, true,
                    ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                        ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                        ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing);
  const ImVec2 listSize(suggestionSize.x - 2 * style.WindowPadding.x,
                        suggestionSize.y - 2 * style.WindowPadding.y);
  if (ImGui::BeginListBox("##InputBarComboBoxList", listSize)) {
    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    ImGui::PushFocusScope(scope);
    for (std::size_t i = 0; i < suggestions.size(); ++i) {
      const ChooserEntry& entry = folders[suggestions[i]];
      ImGui::PushID(static_cast<int>(i));
      const bool clicked = ImGui::Selectable(
          entry.label.c_str(), false,
          ImGuiSelectableFlags_SelectOnClick | ImGuiSelectableFlags_NoHoldingActiveID);
      ImGui::PopID();
      if (clicked) {
        // The name field holds 255 bytes and its terminator; a longer name is refused.
        if (entry.label.size() >= kNameInputSize) {
          errorTitle = chooser_text::kErrorTitle;
          errorText = chooser_text::kSuggestionTooLong;
          ok = false;
        } else {
          fillName(entry.label);
          suggestionsOpen = false;
        }
      }
    }
    ImGui::PopFocusScope();
    ImGui::PopStyleColor();
    ImGui::EndListBox();
  }
  ImGui::EndChild();
  ImGui::PopStyleColor(2);
  ImGui::PopClipRect();
  return ok;
}

bool DirectoryChooser::drawButtons() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float buttonWidth = (typeBoxWidth - style.ItemSpacing.x) / 1.9f;
  const float rightX =
      ImGui::GetWindowWidth() - 2 * buttonWidth - style.ItemSpacing.x - style.WindowPadding.x;

  ImGui::SetCursorPosY(ImGui::GetWindowHeight() - frameHeightWithSpacing() - style.WindowPadding.y);
  if (ImGui::GetCursorPosX() + roundedWidth(chooser_text::kShowHidden) + frameHeight() < rightX) {
    ImGui::Checkbox(chooser_text::kShowHidden, &showHidden);
  } else {
    ImGui::Checkbox("##showHiddenFiles", &showHidden);
    ImGui::SameLine();
    helpMarker("Show Hidden Files and Folders");
  }
  ImGui::SameLine();
  ImGui::SetCursorPosX(rightX);
  if (mode == ChooserMode::SelectFolder) {
    ImGui::SameLine();
    if (ImGui::Button(chooser_text::kSelect, ImVec2(buttonWidth, 0)) && nameInput[0] != '\0') {
      resultName = platform::narrowText(nameInput);
      acceptPending = true;
    }
  }
  ImGui::SameLine();
  if (ImGui::Button(chooser_text::kCancel, ImVec2(buttonWidth, 0))) {
    closeChooser();
  }
  return true;
}

void DirectoryChooser::drawErrorPopup() {
  if (errorTitle.empty()) {
    return;
  }
  ImGui::SetNextWindowSize(ImVec2(260, 0), ImGuiCond_Always);
  if (ImGui::BeginPopupModal(errorTitle.c_str(), nullptr,
                             ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoScrollbar)) {
    ImGui::TextWrapped("%s", errorText.c_str());
    ImGui::Separator();
    const ImVec2 size = buttonSize("OK");
    ImGui::SetCursorPosX(130 - size.x / 2);
    if (ImGui::Button("OK", size)) {
      ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
  }
}

void DirectoryChooser::closeChooser() {
  selectedIndex = -1;
  nameInput[0] = '\0';
  searchFilter.InputBuf[0] = '\0';
  searchFilter.Build();
  visibleFolders.clear();
  visibleFiles.clear();
  suggestions.clear();
  folders.clear();
  files.clear();
  showHidden = false;
  suggestionsOpen = false;
  selectedIsFolder = false;
  acceptPending = false;
  reloadPending = true;
  filterDirty = true;
  ImGui::CloseCurrentPopup();
}

}  // namespace vestrel
