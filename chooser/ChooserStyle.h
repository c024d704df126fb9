// What the chooser's dialog and its path bar share: colours, sizes and the measures of text.
#pragma once

#include <imgui.h>

#include <cmath>
#include <string>

#include "platform/Platform.h"

namespace vestrel::chooser_style {

inline const ImVec4 kYellow{0.882f, 0.745f, 0.078f, 1.0f};
inline const ImVec4 kFaintButton{1.0f, 1.0f, 1.0f, 0.01f};
inline const ImVec4 kWhite{1.0f, 1.0f, 1.0f, 1.0f};
inline const ImVec4 kFrame{0.125f, 0.125f, 0.125f, 1.0f};
inline const ImVec4 kListBackground{0.1f, 0.1f, 0.1f, 1.0f};

inline const ImVec2 kMinSize{500, 300};
inline const float kColumnWidth = 280;
inline const float kErrorPopupWidth = 260;
inline const ImGuiWindowFlags kBarFlags =
    ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_AlwaysAutoResize;
// The search field is as wide as this word and 140 pixels more: it follows the font, not the
// window, and the path bar takes the rest of the row.
inline constexpr char kSearchWidthSample[] = "Random";
// Select and Cancel share one width measured from this text, not from their own labels, so
// the two buttons are always the same size.
inline constexpr char kButtonWidthSample[] = "All Valid Files";

inline float roundedWidth(const char* text) {
  return std::floor(ImGui::CalcTextSize(text).x + 0.99999f);
}

inline float frameHeight() {
  return ImGui::GetFontSize() + 2 * ImGui::GetStyle().FramePadding.y;
}

inline float frameHeightWithSpacing() {
  return frameHeight() + ImGui::GetStyle().ItemSpacing.y;
}

// Names are narrow text; the GUI draws UTF-8.
inline std::string display(const std::string& narrow) {
  return platform::narrowToUtf8(narrow);
}

}  // namespace vestrel::chooser_style
