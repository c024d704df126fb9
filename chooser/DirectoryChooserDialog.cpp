// The chooser's dialog: a modal pop-up with a path bar, a search field, a column listing, a
// name field with suggestions, the hidden-folders checkbox and the two buttons.
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>

#include "chooser/ChooserStyle.h"
#include "chooser/DirectoryChooserDialog.h"
#include "platform/Platform.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

using namespace chooser_style;

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

float actionButtonWidth() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float measure =
      frameHeightWithSpacing() + roundedWidth(kButtonWidthSample) + style.ItemSpacing.x + 10;
  return (measure - style.ItemSpacing.x) / 1.9f;
}

}  // namespace

bool DirectoryChooserDialog::show(const char* title, ImVec2 size) {
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
  if (model_.reloadPending) {
    model_.reopen();
  }
  drawNavigationBar();
  drawListing();
  drawNameBar();
  drawButtons();
  if (model_.acceptPending && model_.finishAccept()) {
    closeChooser();
  }
  drawErrorPopup();
  ImGui::EndPopup();
  return model_.accepted();
}

void DirectoryChooserDialog::drawSearchField(ImVec2 size) {
  const ImGuiStyle& style = ImGui::GetStyle();
  ImGui::BeginChild("##SearchWindow", size, true, kBarFlags);
  const float fieldWidth = size.x - 2 * style.WindowPadding.x -
                           (roundedWidth(text::kChooserHelpMark) + style.ItemSpacing.x);
  if (fieldWidth != 0) {
    ImGui::SetNextItemWidth(fieldWidth);
  }
  ImGuiTextFilter& filter = model_.searchFilter;
  if (ImGui::InputText("##SearchBar", filter.InputBuf, sizeof filter.InputBuf)) {
    model_.applySearch();
  } else if (model_.filterDirty) {
    model_.refilter();
  }
  // Typing a search drops the selection: the entry it pointed at may no longer be drawn.
  if (ImGui::GetFocusID() == ImGui::GetID("##SearchBar")) {
    model_.selectedIndex = -1;
  }
  ImGui::SameLine();
  helpMarker(text::kChooserFilterHelp);
  ImGui::EndChild();
}

int DirectoryChooserDialog::layOutColumns(float usable) {
  const float itemHeight = ImGui::CalcTextSize("").y + ImGui::GetStyle().ItemSpacing.y;
  itemsPerColumn_ = static_cast<int>(std::max(usable / itemHeight, 1.0f));

  // Only the entries drawn take a place: hidden ones are left out unless they are shown.
  const auto drawn = std::count_if(
      model_.visibleFolders.begin(), model_.visibleFolders.end(),
      [this](std::size_t i) { return model_.showHidden || !model_.folders[i].hidden; });
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

void DirectoryChooserDialog::drawListing() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float height = ImGui::GetWindowHeight();
  const float listHeight = height - 2.5f * frameHeightWithSpacing() - style.WindowPadding.y -
                           ImGui::GetCursorPosY() - style.ItemSpacing.y;
  const float usable = listHeight - 2 * style.WindowPadding.y;
  if (usable <= 0) {
    return;
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

  int counted = 0;
  ImGui::PushStyleColor(ImGuiCol_Text, kYellow);
  // The columns are counted in drawn entries; hidden ones that are not shown take no place.
  for (std::size_t k = 0; k < model_.visibleFolders.size(); ++k) {
    const ChooserEntry& entry = model_.folders[model_.visibleFolders[k]];
    if (entry.hidden && !model_.showHidden) {
      continue;
    }
    ++counted;
    ImGui::PushID(static_cast<int>(k));
    const bool selected = static_cast<int>(k) == model_.selectedIndex;
    const bool clicked =
        ImGui::Selectable(entry.label.c_str(), selected, ImGuiSelectableFlags_AllowDoubleClick);
    ImGui::PopID();
    if (clicked) {
      model_.selectEntry(k);
      if (ImGui::GetIO().MouseClickedCount[ImGuiMouseButton_Left] == 2) {
        model_.openEntry(k);
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
}

void DirectoryChooserDialog::drawNameBar() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const char* label = text::kChooserInstallLabel;
  const ImVec2 remembered = ImGui::GetCursorPos();
  const float width = ImGui::GetWindowWidth();
  const float height = ImGui::GetWindowHeight();
  const float fieldWidth =
      width - 2 * style.WindowPadding.x - (roundedWidth(label) + style.ItemSpacing.x);

  ImGui::SetCursorPosY(height - 2 * style.WindowPadding.y - 2 * frameHeightWithSpacing());
  ImGui::Text("%s", label);
  ImGui::SameLine();
  const ImVec2 windowPos = ImGui::GetWindowPos();
  const ImVec2 cursor = ImGui::GetCursorPos();
  suggestionPos_ = ImVec2(windowPos.x + cursor.x, windowPos.y + cursor.y);
  suggestionSize_ = ImVec2(fieldWidth, 0);

  ImGui::PushItemWidth(fieldWidth);
  const bool entered = ImGui::InputTextWithHint(
      "##FileNameInput", text::kChooserNameHint, model_.nameInput, ChooserModel::kNameInputSize,
      ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll |
          ImGuiInputTextFlags_CallbackHistory | ImGuiInputTextFlags_CallbackEdit,
      &DirectoryChooserDialog::nameFieldEvent, this);
  const bool edited = ImGui::IsItemEdited() || ImGui::IsItemActivated();
  const bool live = ImGui::IsItemActive() || ImGui::IsItemDeactivated();
  ImGui::PopItemWidth();

  if (entered) {
    model_.enterName();
  }
  if (edited) {
    model_.collectSuggestions();
  }
  drawSuggestions(live);
  ImGui::SetCursorPos(remembered);
}

int DirectoryChooserDialog::nameFieldEvent(ImGuiInputTextCallbackData* data) {
  auto* dialog = static_cast<DirectoryChooserDialog*>(data->UserData);
  if (data->EventFlag == ImGuiInputTextFlags_CallbackHistory) {
    const int step = data->EventKey == ImGuiKey_UpArrow ? -1 : 1;
    if (dialog->model_.moveHighlight(step)) {
      dialog->highlightMoved_ = true;
    }
    return 0;
  }
  // An edit: typing stops where the name would no longer fit. What overflows is taken back
  // from just before the cursor, where it was typed or pasted.
  for (;;) {
    if (ChooserModel::nameFits(
            std::string_view(data->Buf, static_cast<std::size_t>(data->BufTextLen)))) {
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

void DirectoryChooserDialog::drawSuggestions(bool nameFieldLive) {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float fh = frameHeight();
  const std::vector<std::size_t>& suggestions = model_.suggestions;
  suggestionSize_.y = std::min((static_cast<float>(suggestions.size()) + 1) * fh, 8 * fh) +
                      2 * style.WindowPadding.y;
  const ImGuiID scope = ImGui::GetID("##InputBarComboBoxListScope");
  const bool visible =
      model_.suggestionsOpen && (nameFieldLive || ImGui::GetFocusedFocusScope() == scope);
  if (!visible) {
    return;
  }
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
    for (std::size_t i = 0; i < suggestions.size(); ++i) {
      const ChooserEntry& entry = model_.folders[suggestions[i]];
      const bool highlighted = static_cast<int>(i) == model_.highlightedIndex;
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
        model_.pickSuggestion(i);
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
}

void DirectoryChooserDialog::drawButtons() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float buttonWidth = actionButtonWidth();
  const float rightX =
      ImGui::GetWindowWidth() - 2 * buttonWidth - style.ItemSpacing.x - style.WindowPadding.x;

  ImGui::SetCursorPosY(ImGui::GetWindowHeight() - frameHeightWithSpacing() - style.WindowPadding.y);
  if (ImGui::GetCursorPosX() + roundedWidth(text::kChooserShowHidden) + frameHeight() < rightX) {
    ImGui::Checkbox(text::kChooserShowHidden, &model_.showHidden);
  } else {
    ImGui::Checkbox("##showHiddenFiles", &model_.showHidden);
    ImGui::SameLine();
    helpMarker(text::kChooserShowHiddenHelp);
  }
  // The buttons stand right after the checkbox, where players know them; rightX only decides
  // whether the checkbox keeps its label.
  ImGui::SameLine();
  if (ImGui::Button(text::kChooserSelect, ImVec2(buttonWidth, 0))) {
    model_.selectTypedName();
  }
  ImGui::SameLine();
  if (ImGui::Button(text::kChooserCancel, ImVec2(buttonWidth, 0))) {
    closeChooser();
  }
}

void DirectoryChooserDialog::drawErrorPopup() {
  if (!model_.error) {
    return;
  }
  const ChooserError& error = *model_.error;
  if (!ImGui::IsPopupOpen(error.title.c_str())) {
    ImGui::OpenPopup(error.title.c_str());
  }
  ImGui::SetNextWindowSize(ImVec2(kErrorPopupWidth, 0), ImGuiCond_Always);
  if (!ImGui::BeginPopupModal(error.title.c_str(), nullptr,
                              ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoScrollbar)) {
    return;
  }
  ImGui::TextWrapped("%s", error.text.c_str());
  ImGui::Separator();
  const ImVec2 size = buttonSize(text::kChooserOk);
  ImGui::SetCursorPosX(kErrorPopupWidth / 2 - size.x / 2);
  if (ImGui::Button(text::kChooserOk, size)) {
    ImGui::CloseCurrentPopup();
    model_.error.reset();  // `error` refers to nothing from here on
  }
  ImGui::EndPopup();
}

void DirectoryChooserDialog::closeChooser() {
  model_.close();
  ImGui::CloseCurrentPopup();
}

}  // namespace vestrel
