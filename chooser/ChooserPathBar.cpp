// The chooser's path bar: the folder's parts as buttons, the ones that do not fit behind a
// ">>" menu, and the search field beside them.
#include <imgui.h>

#include <string>
#include <vector>

#include "chooser/ChooserStyle.h"
#include "chooser/DirectoryChooserDialog.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

using namespace chooser_style;

// The room the path bar needs for the part `next`, and for the ">>" button when parts follow it.
float pathPartWidth(const std::vector<std::string>& parts, std::size_t next) {
  float needed = roundedWidth(display(parts[next]).c_str());
  if (next + 1 < parts.size()) {
    needed += frameHeight() + roundedWidth(text::kChooserMoreParts);
  }
  return needed;
}

}  // namespace

void DirectoryChooserDialog::drawNavigationBar() {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float contentWidth = ImGui::GetWindowWidth() - 2 * style.WindowPadding.x;
  const float barHeight = frameHeight() + 2 * style.WindowPadding.y;
  const float searchWidth = roundedWidth(kSearchWidthSample) + 140;
  drawPathButtons(ImVec2(contentWidth - style.ItemSpacing.x - searchWidth, barHeight));
  ImGui::SameLine();
  drawSearchField(ImVec2(searchWidth, barHeight));
}

void DirectoryChooserDialog::drawPathButtons(ImVec2 size) {
  // A part is drawn only when it ends three paddings short of the bar's edge, so the last one
  // never touches the frame.
  const float limit = size.x - 3 * ImGui::GetStyle().WindowPadding.x;
  const std::vector<std::string>& pathParts = model_.pathParts;
  ImGui::BeginChild("##NavigationWindow", size, true, kBarFlags);
  ImGui::PushStyleColor(ImGuiCol_Text, kYellow);
  const std::size_t parts = pathParts.size();
  for (std::size_t i = 0; i < parts; ++i) {
    ImGui::PushID(static_cast<int>(i));
    const bool last = i + 1 == parts;
    if (ImGui::Button(display(pathParts[i]).c_str()) && !last) {
      model_.openPathPart(i);
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
      drawOverflowMenu(i + 1);
    }
    ImGui::PopStyleColor(2);
    ImGui::PopID();
    if (!fits) {
      break;
    }
  }
  ImGui::PopStyleColor();
  ImGui::EndChild();
}

// The ">>" button and its menu of the parts from `firstHidden` on. The last part is the
// folder already listed, so choosing it does nothing.
void DirectoryChooserDialog::drawOverflowMenu(std::size_t firstHidden) {
  if (ImGui::Button(text::kChooserMoreParts)) {
    ImGui::OpenPopup("##NavBarDropboxPopup");
  }
  if (!ImGui::BeginPopup("##NavBarDropboxPopup")) {
    return;
  }
  const std::vector<std::string>& pathParts = model_.pathParts;
  ImGui::PushStyleColor(ImGuiCol_FrameBg, kFrame);
  const float lineHeight = ImGui::GetTextLineHeightWithSpacing();
  if (ImGui::BeginListBox("##NavBarDropBox", ImVec2(0, 5 * lineHeight))) {
    ImGui::PushStyleColor(ImGuiCol_Text, kYellow);
    for (std::size_t j = firstHidden; j < pathParts.size(); ++j) {
      ImGui::PushID(static_cast<int>(j));
      const bool clicked = ImGui::Selectable(display(pathParts[j]).c_str());
      ImGui::PopID();
      if (clicked && j + 1 != pathParts.size()) {
        model_.openPathPart(j);
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

}  // namespace vestrel
