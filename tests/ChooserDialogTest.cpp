// The chooser's dialog driven headlessly: a Dear ImGui context with a built font atlas, a
// display size, mouse and keyboard input, and frames without a window.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstring>

#include "chooser/DirectoryChooser.h"
#include "support/Texts.h"
#include "tests/ChooserTestPeer.h"
#include "tests/TestSupport.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;
using Peer = ChooserTestPeer;

constexpr const char* kTitle = text::kChooserTitle;
constexpr char kFont[] = "/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/Roboto-Medium.ttf";
constexpr int kEnterKey = 13;

class ChooserDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = ImVec2(800, 600);
    io.DeltaTime = 1.0f / 60.0f;
    io.KeyMap[ImGuiKey_Enter] = kEnterKey;
    io.Fonts->AddFontFromFileTTF(kFont, 16.0f, nullptr, io.Fonts->GetGlyphRangesCyrillic());
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    ImGui::StyleColorsClassic();

    for (const char* folder : {"Alpha", "beta", "._hidden", "gamma"}) {
      fs::create_directories(dir_.path() / folder);
    }
    chooser_.currentPath = dir_.root();
    chooser_.splitPath(dir_.root());
  }
  void TearDown() override { ImGui::DestroyContext(context_); }

  // One frame as the installer screen builds it; counts the frames where show() was true.
  void frame() {
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(-5, 0), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(810, 600), ImGuiCond_Always);
    ImGui::Begin("MainWindow", nullptr, 443);
    ImGui::OpenPopup(kTitle);
    if (chooser_.show(kTitle, ImVec2(700, 310))) {
      ++accepted_;
      accepted_path_ = chooser_.resultPath;  // the owner copies it in that frame
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
  void clickSelect() { press(locate("Выбрать", bottomRowY())); }

  // The screen position of the n-th drawn entry of a single-column listing.
  ImVec2 entry(int drawn) const {
    ImGuiWindow* list = window("##ScrollingRegion");
    const ImGuiStyle& style = ImGui::GetStyle();
    return ImVec2(list->Pos.x + style.WindowPadding.x + 20,
                  list->Pos.y + style.WindowPadding.y +
                      drawn * (ImGui::GetFontSize() + style.ItemSpacing.y) +
                      ImGui::GetFontSize() / 2);
  }
  int drawnIndexOf(const std::string& name) const {
    int drawn = 0;
    for (std::size_t i : Peer::visibleFolders(chooser_)) {
      const ChooserEntry& e = chooser_.folders[i];
      if (e.hidden && !Peer::showHidden(chooser_)) {
        continue;
      }
      if (e.name == name) {
        return drawn;
      }
      ++drawn;
    }
    return -1;
  }

  void typeIntoName(const std::string& text) {
    press(locate("##FileNameInput", nameRowY()));
    ImGui::GetIO().AddInputCharactersUTF8(text.c_str());
    frame();
  }
  void pressEnter() {
    ImGuiIO& io = ImGui::GetIO();
    io.KeysDown[kEnterKey] = true;
    frame();
    io.KeysDown[kEnterKey] = false;
    frame();
  }
  bool errorShown(const char* title) const {
    ImGuiWindow* popup = ImGui::FindWindowByName(title);
    return popup != nullptr && popup->WasActive;
  }

  test::TempDir dir_;
  DirectoryChooser chooser_;
  ImGuiContext* context_ = nullptr;
  int accepted_ = 0;
  std::string accepted_path_;
};

TEST_F(ChooserDialogTest, OpensCentredAtItsSizeListingTheRememberedFolder) {
  frames(2);
  ImGuiWindow* popup = dialog();
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->Size.x, 700);
  EXPECT_EQ(popup->Size.y, 310);
  EXPECT_EQ(popup->Pos.x, 50);
  EXPECT_EQ(popup->Pos.y, 145);
  EXPECT_EQ(chooser_.folders.size(), 5u);  // "..", ._hidden, Alpha, beta, gamma
  EXPECT_EQ(chooser_.pathParts.front(), "Computer");
  EXPECT_EQ(accepted_, 0);
}

TEST_F(ChooserDialogTest, ClickFillsTheNameAndSelectReturnsThePathOnOneFrame) {
  frames(2);
  press(entry(drawnIndexOf("beta")));
  EXPECT_STREQ(Peer::nameInput(chooser_), "beta");
  EXPECT_EQ(accepted_, 0);
  clickSelect();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, dir_.root() + "beta/");
  frames(3);  // reopened by its owner: the results are emptied, nothing is accepted again
  EXPECT_EQ(accepted_, 1);
}

TEST_F(ChooserDialogTest, EmptyNameDoesNothingAndWrongNameShowsTheError) {
  frames(2);
  clickSelect();
  EXPECT_EQ(accepted_, 0);
  EXPECT_FALSE(errorShown("Неверная директория!"));

  typeIntoName("delta");
  pressEnter();
  frames(2);
  EXPECT_EQ(accepted_, 0);
  EXPECT_TRUE(errorShown("Неверная директория!"));
  EXPECT_EQ(Peer::errorText(chooser_),
            "Выбрана неправильная директория. Пожалуйста, убедитесь что директория существует.");
  EXPECT_TRUE(chooser_.resultPath.empty());
}

TEST_F(ChooserDialogTest, HiddenFolderTypedByHandIsAccepted) {
  frames(2);
  typeIntoName("._hidden");
  pressEnter();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, dir_.root() + "._hidden/");
}

TEST_F(ChooserDialogTest, EnterOnAnExistingFolderPathMovesThereAndEmptiesTheField) {
  frames(2);
  typeIntoName((dir_.path() / "gamma").string());  // no final '/'
  pressEnter();
  EXPECT_EQ(accepted_, 0);
  EXPECT_EQ(chooser_.currentPath, dir_.root() + "gamma/");
  EXPECT_STREQ(Peer::nameInput(chooser_), "");
  EXPECT_EQ(chooser_.pathParts.back(), "gamma");
}

TEST_F(ChooserDialogTest, SearchTextExcludesAndIncludes) {
  frames(2);
  ImGuiWindow* search = window("##SearchWindow");
  ASSERT_NE(search, nullptr);
  press(ImVec2(search->Pos.x + 20, search->Pos.y + search->Size.y / 2));
  ImGui::GetIO().AddInputCharactersUTF8("-b,a");
  frames(2);
  std::vector<std::string> visible;
  for (std::size_t i : Peer::visibleFolders(chooser_)) {
    visible.push_back(chooser_.folders[i].name);
  }
  // "-b" drops beta; "a" then keeps the names with an a ("..", ._hidden have none).
  EXPECT_EQ(visible, (std::vector<std::string>{"Alpha", "gamma"}));
}

TEST_F(ChooserDialogTest, DoubleClickOpensAFolder) {
  fs::create_directories(dir_.path() / "gamma" / "inner");
  frames(2);
  const ImVec2 at = entry(drawnIndexOf("gamma"));
  ImGuiIO& io = ImGui::GetIO();
  io.MousePos = at;
  frame();
  for (int click = 0; click < 2; ++click) {
    io.MouseDown[0] = true;
    frame();
    io.MouseDown[0] = false;
    frame();
  }
  EXPECT_EQ(chooser_.currentPath, dir_.root() + "gamma/");
  EXPECT_EQ(chooser_.folders.size(), 2u);  // "..", inner
  EXPECT_EQ(accepted_, 0);
}

TEST_F(ChooserDialogTest, ThousandsOfFoldersFitInAtMost64Columns) {
  for (int i = 0; i < 3000; ++i) {
    fs::create_directory(dir_.path() / ("f" + std::to_string(i)));
  }
  frames(3);  // Dear ImGui refuses more than 64 columns; this must not trip it
  const std::size_t visible = Peer::visibleFolders(chooser_).size();
  const int perColumn = Peer::itemsPerColumn(chooser_);
  ASSERT_GE(visible, 3000u);
  const int columns = static_cast<int>((visible + perColumn - 1) / perColumn);
  EXPECT_LE(columns, 64);
  EXPECT_GT(columns, 1);
}

TEST_F(ChooserDialogTest, CancelLeavesTheResultsEmpty) {
  frames(2);
  press(entry(drawnIndexOf("beta")));
  press(locate("Отмена", bottomRowY()));
  EXPECT_EQ(accepted_, 0);
  EXPECT_TRUE(chooser_.resultPath.empty());
  EXPECT_TRUE(Peer::resultName(chooser_).empty());
  EXPECT_STREQ(Peer::nameInput(chooser_), "");
  EXPECT_TRUE(chooser_.reloadPending);
}

TEST_F(ChooserDialogTest, NameTooLongForTheFieldIsRefused) {
  frames(2);
  // Narrow names can take more bytes on screen than the 255-byte field holds.
  chooser_.folders.push_back(chooserEntry(std::string(300, 'n'), false));
  chooser_.refilter();
  frame();
  press(entry(drawnIndexOf(std::string(300, 'n'))));
  frames(2);
  EXPECT_STREQ(Peer::nameInput(chooser_), "");
  EXPECT_TRUE(errorShown("ОШИБКА!"));
}

}  // namespace
}  // namespace vestrel
