// The chooser's dialog driven headlessly: a Dear ImGui context with a built font atlas, a
// display size, mouse and keyboard input, and frames without a window. Shared by the Linux
// tests and the Windows tests (which run it under Wine with narrow text in Windows-1251).
#pragma once

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "chooser/DirectoryChooserDialog.h"
#include "platform/Platform.h"
#include "support/Texts.h"

namespace vestrel {

class ChooserDialogHarness : public ::testing::Test {
 protected:
  static constexpr const char* kTitle = text::kChooserTitle;
  static constexpr int kEnterKey = 13;
  static constexpr int kUpKey = 38;
  static constexpr int kDownKey = 40;

  void SetUp() override {
    context_ = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = ImVec2(800, 600);
    io.DeltaTime = 1.0f / 60.0f;
    io.KeyMap[ImGuiKey_Enter] = kEnterKey;
    io.KeyMap[ImGuiKey_UpArrow] = kUpKey;
    io.KeyMap[ImGuiKey_DownArrow] = kDownKey;
    // The installer's font where the system has it; the positions the tests use follow
    // whichever font was built.
    const char* font = "/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/Roboto-Medium.ttf";
    std::error_code error;
    if (std::filesystem::exists(font, error)) {
      io.Fonts->AddFontFromFileTTF(font, 16.0f, nullptr, io.Fonts->GetGlyphRangesCyrillic());
    } else {
      io.Fonts->AddFontDefault();
    }
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    ImGui::StyleColorsClassic();

    std::mt19937 random(std::random_device{}());
    do {
      folder_ =
          std::filesystem::temp_directory_path() / ("vestrel-chooser-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(folder_));
    std::string narrow;
    platform::fromFsPath(folder_, narrow);
    for (char& c : narrow) {
      c = c == '\\' ? '/' : c;
    }
    root_ = narrow + "/";
  }
  void TearDown() override {
    ImGui::DestroyContext(context_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // The test's own folder, and the same as narrow text, '/'-separated and ending in '/'.
  const std::filesystem::path& folder() const { return folder_; }
  const std::string& root() const { return root_; }
  // A folder in it named in UTF-8, as the test writes names.
  void makeFolder(const std::string& utf8) {
    std::filesystem::create_directories(folder_ / platform::toFsPath(platform::narrowText(utf8)));
  }
  // Opens the dialog in the test's folder on the next frame.
  void openInFolder() {
    model().currentPath = root_;
    model().splitPath(root_);
  }

  // One frame as the installer screen builds it; counts the frames where show() was true.
  void frame() {
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(-5, 0), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(810, 600), ImGuiCond_Always);
    ImGui::Begin("MainWindow", nullptr, 443);
    ImGui::OpenPopup(kTitle);
    if (chooser_.show(kTitle, ImVec2(700, 310))) {
      ++accepted_;
      accepted_path_ = model().installFolder;  // the owner copies it in that frame
    }
    ImGui::End();
    ImGui::Render();
  }
  void frames(int count) {
    for (int i = 0; i < count; ++i) {
      frame();
    }
  }

  ImGuiWindow* window(const char* nameContains) const {
    for (ImGuiWindow* w : GImGui->Windows) {
      if (std::strstr(w->Name, nameContains) != nullptr && w->WasActive) {
        return w;
      }
    }
    return nullptr;
  }
  ImGuiWindow* dialog() const { return ImGui::FindWindowByName(kTitle); }

  void press(ImVec2 at) {
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = at;
    frame();
    io.MouseDown[0] = true;
    frame();
    io.MouseDown[0] = false;
    frame();
  }

  // Finds a widget of the dialog itself by hovering along the row where it is drawn.
  ImVec2 locate(const char* label, float localY) {
    ImGuiWindow* popup = dialog();
    const ImGuiID id = ImHashStr(label, 0, popup->ID);
    for (float x = popup->Pos.x; x < popup->Pos.x + popup->Size.x; x += 3) {
      const ImVec2 at(x, popup->Pos.y + localY);
      ImGui::GetIO().MousePos = at;
      frame();
      frame();
      if (GImGui->HoveredIdPreviousFrame == id) {
        return ImVec2(x + 4, at.y);
      }
    }
    ADD_FAILURE() << "no widget " << label;
    return ImVec2(-1, -1);
  }

  float bottomRowY() const {
    return dialog()->Size.y - ImGui::GetFrameHeightWithSpacing() -
           ImGui::GetStyle().WindowPadding.y + ImGui::GetFrameHeight() / 2;
  }
  float nameRowY() const {
    return dialog()->Size.y - 2 * ImGui::GetStyle().WindowPadding.y -
           2 * ImGui::GetFrameHeightWithSpacing() + ImGui::GetFrameHeight() / 2;
  }
  void clickSelect() { press(locate(text::kChooserSelect, bottomRowY())); }

  // The screen position of the n-th row of a single-column list window.
  static ImVec2 row(const ImGuiWindow* list, int drawn) {
    if (list == nullptr) {
      ADD_FAILURE() << "no list drawn";
      return ImVec2(-1, -1);
    }
    const ImGuiStyle& style = ImGui::GetStyle();
    return ImVec2(list->DC.CursorStartPos.x + 20,
                  list->DC.CursorStartPos.y + drawn * (ImGui::GetFontSize() + style.ItemSpacing.y) +
                      ImGui::GetFontSize() / 2);
  }
  // The list box of suggestions under the name field, if the last frame drew it.
  ImGuiWindow* suggestionList() const {
    for (ImGuiWindow* w : GImGui->Windows) {
      if (w->Active && w->ParentWindow != nullptr &&
          std::strstr(w->ParentWindow->Name, "##InputBarComboBox") != nullptr) {
        return w;
      }
    }
    return nullptr;
  }
  // The n-th drawn entry of the listing, and the n-th suggestion under the name field.
  ImVec2 entry(int drawn) const { return row(window("##ScrollingRegion"), drawn); }
  ImVec2 suggestion(int drawn) const { return row(suggestionList(), drawn); }

  int drawnIndexOf(const std::string& name) const {
    int drawn = 0;
    for (std::size_t i : model().visibleFolders) {
      const ChooserEntry& e = model().folders[i];
      if (e.hidden && !model().showHidden) {
        continue;
      }
      if (e.name == name) {
        return drawn;
      }
      ++drawn;
    }
    return -1;
  }
  // The labels (UTF-8) of the entries the search lets through, and of the suggestions.
  std::vector<std::string> visibleLabels() const {
    std::vector<std::string> labels;
    for (std::size_t i : model().visibleFolders) {
      labels.push_back(model().folders[i].label);
    }
    return labels;
  }
  std::vector<std::string> suggestionLabels() const {
    std::vector<std::string> labels;
    for (std::size_t i : model().suggestions) {
      labels.push_back(model().folders[i].label);
    }
    return labels;
  }
  bool suggestionsDrawn() const { return suggestionList() != nullptr; }

  void typeIntoSearch(const std::string& utf8) {
    ImGuiWindow* search = window("##SearchWindow");
    ASSERT_NE(search, nullptr);
    press(ImVec2(search->Pos.x + 20, search->Pos.y + search->Size.y / 2));
    ImGui::GetIO().AddInputCharactersUTF8(utf8.c_str());
    frames(2);
  }
  void typeIntoName(const std::string& utf8) {
    press(locate("##FileNameInput", nameRowY()));
    ImGui::GetIO().AddInputCharactersUTF8(utf8.c_str());
    frame();
  }
  void pressKey(int key) {
    ImGuiIO& io = ImGui::GetIO();
    io.KeysDown[key] = true;
    frame();
    io.KeysDown[key] = false;
    frame();
  }
  void pressEnter() { pressKey(kEnterKey); }
  bool errorShown(const char* title) const {
    ImGuiWindow* popup = ImGui::FindWindowByName(title);
    return popup != nullptr && popup->WasActive;
  }
  // Closes the error pop-up `title` with its OK button, the last row of the pop-up.
  void dismissError(const char* title) {
    ImGuiWindow* popup = ImGui::FindWindowByName(title);
    ASSERT_TRUE(popup != nullptr && popup->WasActive) << title;
    press(ImVec2(popup->Pos.x + popup->Size.x / 2, popup->Pos.y + popup->Size.y -
                                                       ImGui::GetStyle().WindowPadding.y -
                                                       ImGui::GetFrameHeight() / 2));
    frames(2);
    ASSERT_FALSE(errorShown(title));
    ASSERT_FALSE(model().error.has_value());
  }

  ChooserModel& model() { return chooser_.model(); }
  const ChooserModel& model() const { return chooser_.model(); }
  // The text of the error the chooser holds for the player; empty without one.
  std::string errorText() const { return model().error ? model().error->text : std::string(); }

  DirectoryChooserDialog chooser_;
  ImGuiContext* context_ = nullptr;
  int accepted_ = 0;
  std::string accepted_path_;

 private:
  std::filesystem::path folder_;
  std::string root_;
};

}  // namespace vestrel
