// The chooser's dialog driven headlessly (tests/ChooserDialogHarness.h) over real folders:
// clicks, typing, the search, the suggestions and the name field's limits.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/ChooserDialogHarness.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;
using Labels = std::vector<std::string>;

class ChooserDialogTest : public ChooserDialogHarness {
 protected:
  void SetUp() override {
    ChooserDialogHarness::SetUp();
    for (const char* name : {"Alpha", "beta", "._hidden", "gamma"}) {
      makeFolder(name);
    }
    openInFolder();
  }
};

TEST_F(ChooserDialogTest, OpensCentredAtItsSizeListingTheRememberedFolder) {
  frames(2);
  ImGuiWindow* popup = dialog();
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->Size.x, 700);
  EXPECT_EQ(popup->Size.y, 310);
  EXPECT_EQ(popup->Pos.x, 50);
  EXPECT_EQ(popup->Pos.y, 145);
  EXPECT_EQ(model().folders.size(), 5u);  // "..", ._hidden, Alpha, beta, gamma
  EXPECT_EQ(model().pathParts.front(), "Computer");
  EXPECT_EQ(accepted_, 0);
}

TEST_F(ChooserDialogTest, ClickFillsTheNameAndSelectReturnsThePathOnOneFrame) {
  frames(2);
  press(entry(drawnIndexOf("beta")));
  EXPECT_STREQ(model().nameInput, "beta");
  EXPECT_EQ(accepted_, 0);
  clickSelect();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, root() + "beta/");
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
  EXPECT_EQ(errorText(),
            "Выбрана неправильная директория. Пожалуйста, убедитесь что директория существует.");
  EXPECT_TRUE(model().installFolder.empty());
}

TEST_F(ChooserDialogTest, HiddenFolderTypedByHandIsAccepted) {
  frames(2);
  typeIntoName("._hidden");
  pressEnter();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, root() + "._hidden/");
}

TEST_F(ChooserDialogTest, EnterOnAnExistingFolderPathMovesThereAndEmptiesTheField) {
  frames(2);
  typeIntoName((folder() / "gamma").string());  // no final '/'
  pressEnter();
  EXPECT_EQ(accepted_, 0);
  EXPECT_EQ(model().currentPath, root() + "gamma/");
  EXPECT_STREQ(model().nameInput, "");
  EXPECT_EQ(model().pathParts.back(), "gamma");
}

TEST_F(ChooserDialogTest, SearchTextExcludesAndIncludes) {
  frames(2);
  typeIntoSearch("-b,a");
  // "-b" drops beta; "a" then keeps the names with an a ("..", ._hidden have none).
  EXPECT_EQ(visibleLabels(), (Labels{"Alpha", "gamma"}));
}

TEST_F(ChooserDialogTest, CyrillicSearchAndSuggestionsIgnoreCase) {
  for (const char* name : {"Игры", "ИГРУШКИ", "Ёлка", "выигрыш", "Игла"}) {
    makeFolder(name);
  }
  frames(2);
  typeIntoSearch("иГр");
  EXPECT_EQ(visibleLabels(), (Labels{"выигрыш", "ИГРУШКИ", "Игры"}));  // in the alphabet's order

  typeIntoName("ЁЛ");
  EXPECT_EQ(suggestionLabels(), (Labels{"Ёлка"}));
  EXPECT_TRUE(suggestionsDrawn());
}

TEST_F(ChooserDialogTest, DoubleClickOpensAFolder) {
  fs::create_directories(folder() / "gamma" / "inner");
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
  EXPECT_EQ(model().currentPath, root() + "gamma/");
  EXPECT_EQ(model().folders.size(), 2u);  // "..", inner
  EXPECT_EQ(accepted_, 0);
}

TEST_F(ChooserDialogTest, ThousandsOfFoldersFitInAtMost64ColumnsCountingOnlyTheDrawn) {
  for (int i = 0; i < 3000; ++i) {
    fs::create_directory(folder() / ("f" + std::to_string(i)));
    fs::create_directory(folder() / (".h" + std::to_string(i)));  // hidden: not drawn
  }
  frames(3);  // Dear ImGui refuses more than 64 columns; this must not trip it
  const std::size_t visible = model().visibleFolders.size();
  const int perColumn = chooser_.itemsPerColumn();
  ASSERT_GE(visible, 6000u);
  // The columns hold what is drawn: had the hidden ones counted, half the columns would do.
  const int columns = static_cast<int>((3000 + 4 + perColumn - 1) / perColumn);
  EXPECT_LE(columns, 64);
  EXPECT_GT(columns, 48);
}

TEST_F(ChooserDialogTest, CancelLeavesTheResultsEmpty) {
  frames(2);
  press(entry(drawnIndexOf("beta")));
  press(locate(text::kChooserCancel, bottomRowY()));
  EXPECT_EQ(accepted_, 0);
  EXPECT_TRUE(model().installFolder.empty());
  EXPECT_TRUE(model().resultName.empty());
  EXPECT_STREQ(model().nameInput, "");
  EXPECT_TRUE(model().reloadPending);
}

TEST_F(ChooserDialogTest, SuggestionIsPickedWithAClick) {
  frames(2);
  typeIntoName("A");  // Alpha, beta and gamma hold an a
  ASSERT_EQ(suggestionLabels(), (Labels{"Alpha", "beta", "gamma"}));
  ASSERT_TRUE(suggestionsDrawn());
  press(suggestion(1));
  EXPECT_STREQ(model().nameInput, "beta");
  EXPECT_FALSE(suggestionsDrawn());
  EXPECT_EQ(accepted_, 0);
  clickSelect();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, root() + "beta/");
}

TEST_F(ChooserDialogTest, SuggestionIsPickedWithUpDownAndEnter) {
  frames(2);
  typeIntoName("a");
  ASSERT_EQ(suggestionLabels(), (Labels{"Alpha", "beta", "gamma"}));
  for (int key : {kDownKey, kDownKey, kDownKey, kDownKey, kUpKey}) {
    pressKey(key);  // down past the last one stays there; up comes back to beta
  }
  EXPECT_STREQ(model().nameInput, "a");
  pressEnter();
  EXPECT_STREQ(model().nameInput, "beta");
  EXPECT_FALSE(suggestionsDrawn());
  EXPECT_EQ(accepted_, 0);  // Enter picks the suggestion; it does not accept it yet

  // Up from the first suggestion is the typed text again, which Enter takes as it is.
  typeIntoName("gam");
  pressKey(kDownKey);
  pressKey(kUpKey);
  pressEnter();
  EXPECT_EQ(accepted_, 0);
  EXPECT_TRUE(errorShown(text::kChooserWrongFolderTitle));  // "gam" is no folder here
}

// Names are kept as narrow text, at most 255 bytes of it; here narrow text is UTF-8 itself.
TEST_F(ChooserDialogTest, NamesLongerThan255NarrowBytesAreRefused) {
  frames(2);
  const std::string longest(255, 'n');
  const std::string tooLong(256, 'o');
  makeFolder(longest);  // accepting it also checks that the folder may be written
  for (const std::string& name : {longest, tooLong}) {
    model().folders.push_back(chooserEntry(name, false));
  }
  model().refilter();
  frame();
  press(entry(drawnIndexOf(longest)));
  EXPECT_EQ(model().nameInput, longest);
  press(entry(drawnIndexOf(tooLong)));
  frames(2);
  EXPECT_EQ(model().nameInput, longest);
  EXPECT_TRUE(errorShown(text::kChooserErrorTitle));
  EXPECT_EQ(errorText(), text::kChooserNameTooLong);
  dismissError(text::kChooserErrorTitle);
  clickSelect();
  EXPECT_EQ(accepted_path_, root() + longest + "/");
}

TEST_F(ChooserDialogTest, OverlongSuggestionShowsItsError) {
  frames(2);
  model().folders.push_back(chooserEntry(std::string(256, 'o'), false));
  typeIntoName("ooo");
  ASSERT_EQ(model().suggestions.size(), 1u);
  press(suggestion(0));
  frames(2);
  EXPECT_STREQ(model().nameInput, "ooo");  // the field keeps what was typed
  EXPECT_TRUE(errorShown(text::kChooserErrorTitle));
  EXPECT_EQ(errorText(), text::kChooserSuggestionTooLong);
}

TEST_F(ChooserDialogTest, TypingStopsAt255NarrowBytes) {
  frames(2);
  typeIntoName(std::string(300, 'x'));
  EXPECT_EQ(std::strlen(model().nameInput), 255u);

  std::string cyrillic;
  for (int i = 0; i < 200; ++i) {
    cyrillic += "я";
  }
  press(entry(drawnIndexOf("beta")));  // leaves the field: entering it again selects all
  typeIntoName(cyrillic);
  // 127 letters take 254 bytes; the 128th would need 256.
  EXPECT_EQ(std::string(model().nameInput), cyrillic.substr(0, 254));
}

}  // namespace
}  // namespace vestrel
