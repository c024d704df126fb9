// The chooser's dialog: a modal pop-up with a path bar, a search field, a column listing, a
// name field with suggestions, the hidden-folders checkbox and the two buttons.
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "chooser/DirectoryChooser.h"
#include "platform/Platform.h"
#include "support/Texts.h"
#include "support/Windows1251.h"

namespace vestrel {
namespace {

const ImVec4 kYellow{0.882f, 0.745f, 0.078f, 1.0f};
const ImVec4 kFaintButton{1.0f, 1.0f, 1.0f, 0.01f};
const ImVec4 kWhite{1.0f, 1.0f, 1.0f, 1.0f};
const ImVec4 kFrame{0.125f, 0.125f, 0.125f, 1.0f};
const ImVec4 kListBackground{0.1f, 0.1f, 0.1f, 1.0f};

const ImVec2 kMinSize{500, 300};
const float kColumnWidth = 280;
const float kErrorPopupWidth = 260;
const ImGuiWindowFlags kBarFlags = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_AlwaysAutoResize;
// The search field is as wide as this word and 140 pixels more: it follows the font, not the
// window, and the path bar takes the rest of the row.
const char kSearchWidthSample[] = "Random";
// Select and Cancel share one width measured from this text, not from their own labels, so
// the two buttons are always the same size.
const char kButtonWidthSample[] = "All Valid Files";

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
  ImGui::TextDisabled("%s", text::kChooserHelpMark);
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

// The room the path bar needs for the part `next`, and for the ">>" button when parts follow it.
float pathPartWidth(const std::vector<std::string>& parts, std::size_t next) {
  float needed = roundedWidth(display(parts[next]).c_str());
  if (next + 1 < parts.size()) {
    needed += frameHeight() + roundedWidth(text::kChooserMoreParts);
  }
  return needed;
}

float actionButtonWidth() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float measure =
      frameHeightWithSpacing() + roundedWidth(kButtonWidthSample) + style.ItemSpacing.x + 10;
  return (measure - style.ItemSpacing.x) / 1.9f;
}

}  // namespace

bool DirectoryChooser::show(const char* title, ImVec2 size) {
  const ImGuiIO& io = ImGui::GetIO();
  ImGui::SetNextWindowSizeConstraints(kMinSize, io.DisplaySize);
  ImGui::SetNextWindowPos(ImVec2(io.DisplaySize.x * 0.5f, io.DisplaySize.y * 0.5f),
                          ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(ImVec2(std::max(kMinSize.x, size.x), std::max(kMinSize.y, size.y)),
                           ImGuiCond_Appearing);
  if (!ImGui::BeginPopupModal(title, nullptr,
                              ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                  ImGuiWindowFlags_NoScrollbar |
                                  ImGuiWindowFlags_NoScrollWithMouse)) {
    return false;
  }

  bool failed = false;
  if (reloadPending) {
    resultName_.clear();
    resultPath.clear();
    failed |= currentPath.empty() ? !loadDrives() : !readFolder(currentPath);
    reloadPending = false;
  }
  failed |= !drawNavigationBar();
  failed |= !drawListing();
  failed |= !drawNameBar();
  failed |= !drawButtons();

  if (acceptPending_) {
    acceptPending_ = false;
    // Every folder listed has an absolute path, so a relative one here would be the dialog's
    // own fault; it is refused rather than returned, saved and installed into.
    const std::string path = validateChoice() ? chosenPath() : std::string();
    if (platform::isAbsoluteFolder(path)) {
      resultPath = path;
      closeChooser();
    } else {
      resultName_.clear();
      resultPath.clear();
      failed = true;
      errorTitle_ = text::kChooserWrongFolderTitle;
      errorText_ = text::kChooserWrongFolder;
    }
  }
  if (failed && !errorTitle_.empty()) {
    ImGui::OpenPopup(errorTitle_.c_str());
  }
  drawErrorPopup();
  ImGui::EndPopup();
  return !resultName_.empty() && !resultPath.empty();
}

bool DirectoryChooser::validateChoice() {
  if (selectedIndex_ >= 0 && static_cast<std::size_t>(selectedIndex_) < visibleFolders_.size() &&
      folders[visibleFolders_[static_cast<std::size_t>(selectedIndex_)]].name == resultName_) {
    return true;
  }
  // The whole listing counts, hidden entries and ".." included, whatever the filter shows.
  return std::any_of(folders.begin(), folders.end(),
                     [this](const ChooserEntry& entry) { return entry.name == resultName_; });
}

std::string DirectoryChooser::chosenPath() const {
  if (atDriveList()) {
    // A drive accepted from the drive list is that drive's own folder.
    for (const ChooserEntry& entry : folders) {
      if (entry.name == resultName_ && !entry.drivePath.empty()) {
        return entry.drivePath;
      }
    }
  }
  return currentPath + resultName_ + "/";
}

bool DirectoryChooser::fillName(const ChooserEntry& entry) {
  // Measured in narrow bytes, as the name will be kept: a Cyrillic label takes twice as many
  // bytes as the name it draws.
  if (entry.name.size() > kNameMaxBytes || entry.label.size() >= kNameInputSize) {
    errorTitle_ = text::kChooserErrorTitle;
    errorText_ = text::kChooserNameTooLong;
    return false;
  }
  std::memcpy(nameInput_, entry.label.c_str(), entry.label.size() + 1);
  return true;
}

bool DirectoryChooser::typedName(std::string& narrow) {
  if (!platform::utf8ToNarrow(nameInput_, narrow)) {
    setUnsupportedNameError();
    return false;
  }
  return true;
}

bool DirectoryChooser::drawNavigationBar() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float contentWidth = ImGui::GetWindowWidth() - 2 * style.WindowPadding.x;
  const float barHeight = frameHeight() + 2 * style.WindowPadding.y;
  const float searchWidth = roundedWidth(kSearchWidthSample) + 140;
  const bool ok =
      drawPathButtons(ImVec2(contentWidth - style.ItemSpacing.x - searchWidth, barHeight));
  ImGui::SameLine();
  drawSearchField(ImVec2(searchWidth, barHeight));
  return ok;
}

// One button per path part, joined by arrows; the parts that do not fit go to the ">>" menu.
bool DirectoryChooser::drawPathButtons(ImVec2 size) {
  // A part is drawn only when it ends three paddings short of the bar's edge, so the last one
  // never touches the frame.
  const float limit = size.x - 3 * ImGui::GetStyle().WindowPadding.x;
  bool ok = true;
  ImGui::BeginChild("##NavigationWindow", size, true, kBarFlags);
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
    const bool fits = ImGui::GetCursorPosX() + pathPartWidth(pathParts, i + 1) < limit;
    ImGui::PushID(static_cast<int>(i));
    ImGui::PushStyleColor(ImGuiCol_Button, kFaintButton);
    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    if (fits) {
      ImGui::ArrowButton("##Right", ImGuiDir_Right);
      ImGui::SameLine(0, 0);
    } else {
      ok &= drawOverflowMenu(i + 1);
    }
    ImGui::PopStyleColor(2);
    ImGui::PopID();
    if (!fits) {
      break;
    }
  }
  ImGui::PopStyleColor();
  ImGui::EndChild();
  return ok;
}

// The ">>" button and its menu of the parts from `firstHidden` on. The last part is the
// folder already listed, so choosing it does nothing.
bool DirectoryChooser::drawOverflowMenu(std::size_t firstHidden) {
  if (ImGui::Button(text::kChooserMoreParts)) {
    ImGui::OpenPopup("##NavBarDropboxPopup");
  }
  if (!ImGui::BeginPopup("##NavBarDropboxPopup")) {
    return true;
  }
  bool ok = true;
  ImGui::PushStyleColor(ImGuiCol_FrameBg, kFrame);
  const float lineHeight = ImGui::GetTextLineHeightWithSpacing();
  if (ImGui::BeginListBox("##NavBarDropBox", ImVec2(0, 5 * lineHeight))) {
    ImGui::PushStyleColor(ImGuiCol_Text, kYellow);
    for (std::size_t j = firstHidden; j < pathParts.size(); ++j) {
      ImGui::PushID(static_cast<int>(j));
      const bool clicked = ImGui::Selectable(display(pathParts[j]).c_str());
      ImGui::PopID();
      if (clicked && j + 1 != pathParts.size()) {
        ok = openPathPart(j);
        ImGui::CloseCurrentPopup();
        break;
      }
    }
    ImGui::PopStyleColor();
    ImGui::EndListBox();
  }
  ImGui::PopStyleColor();
  ImGui::EndPopup();
  return ok;
}

void DirectoryChooser::drawSearchField(ImVec2 size) {
  const ImGuiStyle& style = ImGui::GetStyle();
  ImGui::BeginChild("##SearchWindow", size, true, kBarFlags);
  const float fieldWidth = size.x - 2 * style.WindowPadding.x -
                           (roundedWidth(text::kChooserHelpMark) + style.ItemSpacing.x);
  if (fieldWidth != 0) {
    ImGui::SetNextItemWidth(fieldWidth);
  }
  if (ImGui::InputText("##SearchBar", searchFilter_.InputBuf, sizeof searchFilter_.InputBuf)) {
    searchFilter_.Build();
    refilter();
  } else if (filterDirty_) {
    refilter();
  }
  // Typing a search drops the selection: the entry it pointed at may no longer be drawn.
  if (ImGui::GetFocusID() == ImGui::GetID("##SearchBar")) {
    selectedIndex_ = -1;
  }
  ImGui::SameLine();
  helpMarker(text::kChooserFilterHelp);
  ImGui::EndChild();
}

int DirectoryChooser::layOutColumns(float usable) {
  const float itemHeight = ImGui::CalcTextSize("").y + ImGui::GetStyle().ItemSpacing.y;
  itemsPerColumn_ = static_cast<int>(std::max(usable / itemHeight, 1.0f));

  // Only the entries drawn take a place: hidden ones are left out unless they are shown.
  const auto drawn =
      std::count_if(visibleFolders_.begin(), visibleFolders_.end(),
                    [this](std::size_t i) { return showHidden_ || !folders[i].hidden; });
  const float entries = static_cast<float>(drawn);
  // Never more than 64 columns (Dear ImGui's limit): beyond that the columns grow taller.
  int columns = static_cast<int>(std::max(std::ceil(entries / itemsPerColumn_), 1.0f));
  if (columns > 64) {
    itemsPerColumn_ +=
        static_cast<int>(std::ceil(static_cast<float>(columns - 64) * itemsPerColumn_ / 64.0f));
    columns = static_cast<int>(std::max(std::ceil(entries / itemsPerColumn_), 1.0f));
  }
  return columns;
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
  const int columns = layOutColumns(usable);

  // Columns that fit the window share its width; more of them scroll sideways.
  float contentWidth = columns * kColumnWidth;
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
  // The columns are counted in drawn entries; hidden ones that are not shown take no place.
  for (std::size_t k = 0; k < visibleFolders_.size(); ++k) {
    const ChooserEntry& entry = folders[visibleFolders_[k]];
    if (entry.hidden && !showHidden_) {
      continue;
    }
    ++counted;
    ImGui::PushID(static_cast<int>(k));
    const bool selected = static_cast<int>(k) == selectedIndex_;
    const bool clicked =
        ImGui::Selectable(entry.label.c_str(), selected, ImGuiSelectableFlags_AllowDoubleClick);
    ImGui::PopID();
    if (clicked) {
      selectedIndex_ = static_cast<int>(k);
      ok &= fillName(entry);
      if (ImGui::GetIO().MouseClickedCount[ImGuiMouseButton_Left] == 2) {
        ok &= openEntry(k);
        break;
      }
    }
    if (counted % itemsPerColumn_ == 0) {
      ImGui::NextColumn();
    }
  }
  ImGui::PopStyleColor();
  ImGui::Columns(1);
  ImGui::EndChild();
  return ok;
}

bool DirectoryChooser::drawNameBar() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const char* label = text::kChooserInstallLabel;
  const ImVec2 remembered = ImGui::GetCursorPos();
  const float width = ImGui::GetWindowWidth();
  const float height = ImGui::GetWindowHeight();
  const float fieldWidth =
      width - 2 * style.WindowPadding.x - (roundedWidth(label) + style.ItemSpacing.x);
  bool ok = true;

  ImGui::SetCursorPosY(height - 2 * style.WindowPadding.y - 2 * frameHeightWithSpacing());
  ImGui::Text("%s", label);
  ImGui::SameLine();
  const ImVec2 windowPos = ImGui::GetWindowPos();
  const ImVec2 cursor = ImGui::GetCursorPos();
  suggestionPos_ = ImVec2(windowPos.x + cursor.x, windowPos.y + cursor.y);
  suggestionSize_ = ImVec2(fieldWidth, 0);

  ImGui::PushItemWidth(fieldWidth);
  const bool entered = ImGui::InputTextWithHint(
      "##FileNameInput", text::kChooserNameHint, nameInput_, kNameInputSize,
      ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll |
          ImGuiInputTextFlags_CallbackHistory | ImGuiInputTextFlags_CallbackEdit,
      &DirectoryChooser::nameFieldEvent, this);
  const bool edited = ImGui::IsItemEdited() || ImGui::IsItemActivated();
  const bool live = ImGui::IsItemActive() || ImGui::IsItemDeactivated();
  ImGui::PopItemWidth();

  // Enter picks the suggestion chosen with Up and Down, if any, like a click on it; otherwise
  // it takes the typed text. Either way the field is no longer active.
  if (entered && suggestionsOpen_ && highlightedIndex_ >= 0 &&
      static_cast<std::size_t>(highlightedIndex_) < suggestions_.size()) {
    ok &= pickSuggestion(static_cast<std::size_t>(highlightedIndex_));
  } else if (entered && nameInput_[0] != '\0') {
    ok &= takeTypedName();
  }
  if (edited) {
    collectSuggestions();
  }
  ok &= drawSuggestions(live);
  ImGui::SetCursorPos(remembered);
  return ok;
}

// Enter in the name field: a folder path moves there, anything else is the name to accept.
bool DirectoryChooser::takeTypedName() {
  std::string text;
  if (!typedName(text)) {
    return false;
  }
  std::error_code error;
  if (!std::filesystem::is_directory(platform::toFsPath(text), error)) {
    resultName_ = text;
    acceptPending_ = true;
    return true;
  }
  // A typed folder path: move there. It is taken as absolute and ending in '/'.
  std::string path = text;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.back() != '/') {
    path += '/';
  }
  nameInput_[0] = '\0';
  if (!readFolder(path)) {
    return false;
  }
  currentPath = lastListedPath_;
  pathParts.clear();
  splitPath(currentPath);
  return true;
}

// The folders whose names hold the typed text, any case, for the list under the name field.
// Both are compared as drawn and typed, in UTF-8.
void DirectoryChooser::collectSuggestions() {
  selectedIndex_ = -1;
  highlightedIndex_ = -1;
  suggestions_.clear();
  const std::string typed = foldCase(nameInput_);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (foldCase(folders[i].label).find(typed) != std::string::npos) {
      suggestions_.push_back(i);
    }
  }
  suggestionsOpen_ = !suggestions_.empty();
}

int DirectoryChooser::nameFieldEvent(ImGuiInputTextCallbackData* data) {
  auto* chooser = static_cast<DirectoryChooser*>(data->UserData);
  if (data->EventFlag == ImGuiInputTextFlags_CallbackHistory) {
    if (!chooser->suggestionsOpen_ || chooser->suggestions_.empty()) {
      return 0;
    }
    // Up from the first suggestion goes back to the typed text alone.
    const int last = static_cast<int>(chooser->suggestions_.size()) - 1;
    const int step = data->EventKey == ImGuiKey_UpArrow ? -1 : 1;
    chooser->highlightedIndex_ = std::clamp(chooser->highlightedIndex_ + step, -1, last);
    chooser->highlightMoved_ = true;
    return 0;
  }
  // An edit: typing stops where the name would outgrow kNameMaxBytes narrow bytes. What
  // overflows is taken back from just before the cursor, where it was typed or pasted.
  std::string narrow;
  for (;;) {
    platform::utf8ToNarrow(std::string_view(data->Buf, static_cast<std::size_t>(data->BufTextLen)),
                           narrow);
    if (narrow.size() <= kNameMaxBytes) {
      return 0;
    }
    const int end = data->CursorPos > 0 ? data->CursorPos : data->BufTextLen;
    int start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(data->Buf[start]) & 0xC0) == 0x80) {
      --start;  // back to the first byte of that character
    }
    data->DeleteChars(start, end - start);
  }
}

bool DirectoryChooser::pickSuggestion(std::size_t index) {
  const ChooserEntry& entry = folders[suggestions_[index]];
  // The name field holds kNameMaxBytes narrow bytes; a longer name is refused.
  if (entry.name.size() > kNameMaxBytes) {
    errorTitle_ = text::kChooserErrorTitle;
    errorText_ = text::kChooserSuggestionTooLong;
    return false;
  }
  fillName(entry);
  suggestionsOpen_ = false;
  highlightedIndex_ = -1;
  return true;
}

bool DirectoryChooser::drawSuggestions(bool nameFieldLive) {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float fh = frameHeight();
  suggestionSize_.y = std::min((static_cast<float>(suggestions_.size()) + 1) * fh, 8 * fh) +
                      2 * style.WindowPadding.y;
  const ImGuiID scope = ImGui::GetID("##InputBarComboBoxListScope");
  const bool visible =
      suggestionsOpen_ && (nameFieldLive || ImGui::GetFocusedFocusScope() == scope);
  if (!visible) {
    return true;
  }
  bool ok = true;
  ImGui::PushStyleColor(ImGuiCol_ChildBg, kListBackground);
  ImGui::PushStyleColor(ImGuiCol_FrameBg, kFrame);
  ImGui::SetNextWindowBgAlpha(1.0f);
  ImGui::SetNextWindowPos(ImVec2(suggestionPos_.x, suggestionPos_.y + frameHeightWithSpacing()),
                          ImGuiCond_Always);
  // The list may hang out of the dialog's bottom edge: it is clipped to the display only.
  ImGui::PushClipRect(ImVec2(0, 0), ImGui::GetIO().DisplaySize, false);
  ImGui::BeginChild("##InputBarComboBox", suggestionSize_, true,
                    ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                        ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                        ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing);
  const ImVec2 listSize(suggestionSize_.x - 2 * style.WindowPadding.x,
                        suggestionSize_.y - 2 * style.WindowPadding.y);
  if (ImGui::BeginListBox("##InputBarComboBoxList", listSize)) {
    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    ImGui::PushFocusScope(scope);
    for (std::size_t i = 0; i < suggestions_.size(); ++i) {
      const ChooserEntry& entry = folders[suggestions_[i]];
      const bool highlighted = static_cast<int>(i) == highlightedIndex_;
      ImGui::PushID(static_cast<int>(i));
      const bool clicked = ImGui::Selectable(
          entry.label.c_str(), highlighted,
          ImGuiSelectableFlags_SelectOnClick | ImGuiSelectableFlags_NoHoldingActiveID);
      ImGui::PopID();
      if (highlighted && highlightMoved_) {
        ImGui::SetScrollHereY();  // once per move: the wheel still scrolls the list
        highlightMoved_ = false;
      }
      if (clicked) {
        ok &= pickSuggestion(i);
        break;
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
  const float buttonWidth = actionButtonWidth();
  const float rightX =
      ImGui::GetWindowWidth() - 2 * buttonWidth - style.ItemSpacing.x - style.WindowPadding.x;

  ImGui::SetCursorPosY(ImGui::GetWindowHeight() - frameHeightWithSpacing() - style.WindowPadding.y);
  if (ImGui::GetCursorPosX() + roundedWidth(text::kChooserShowHidden) + frameHeight() < rightX) {
    ImGui::Checkbox(text::kChooserShowHidden, &showHidden_);
  } else {
    ImGui::Checkbox("##showHiddenFiles", &showHidden_);
    ImGui::SameLine();
    helpMarker(text::kChooserShowHiddenHelp);
  }
  // The buttons stand right after the checkbox, where players know them; rightX only decides
  // whether the checkbox keeps its label.
  ImGui::SameLine();
  bool ok = true;
  if (ImGui::Button(text::kChooserSelect, ImVec2(buttonWidth, 0)) && nameInput_[0] != '\0') {
    ok = typedName(resultName_);
    acceptPending_ = ok;
    if (!ok) {
      resultName_.clear();
    }
  }
  ImGui::SameLine();
  if (ImGui::Button(text::kChooserCancel, ImVec2(buttonWidth, 0))) {
    closeChooser();
  }
  return ok;
}

void DirectoryChooser::drawErrorPopup() {
  if (errorTitle_.empty()) {
    return;
  }
  ImGui::SetNextWindowSize(ImVec2(kErrorPopupWidth, 0), ImGuiCond_Always);
  if (ImGui::BeginPopupModal(errorTitle_.c_str(), nullptr,
                             ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoScrollbar)) {
    ImGui::TextWrapped("%s", errorText_.c_str());
    ImGui::Separator();
    const ImVec2 size = buttonSize(text::kChooserOk);
    ImGui::SetCursorPosX(kErrorPopupWidth / 2 - size.x / 2);
    if (ImGui::Button(text::kChooserOk, size)) {
      ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
  }
}

// Empties everything but the location, which the next opening lists again.
void DirectoryChooser::closeChooser() {
  selectedIndex_ = -1;
  highlightedIndex_ = -1;
  nameInput_[0] = '\0';
  searchFilter_.InputBuf[0] = '\0';
  searchFilter_.Build();
  visibleFolders_.clear();
  suggestions_.clear();
  folders.clear();
  showHidden_ = false;
  suggestionsOpen_ = false;
  acceptPending_ = false;
  reloadPending = true;
  filterDirty_ = true;
  ImGui::CloseCurrentPopup();
}

}  // namespace vestrel
