// The folder chooser on Windows, where the names it lists are Windows-1251 and everything it
// draws and takes from the keyboard is UTF-8: the search, the name field's limits, and the
// folders narrow text cannot name (a working folder, a typed name, a stored folder).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/Settings.h"
#include "tests/ChooserDialogHarness.h"
#include "tests/WorkingDirectory.h"
#include "update/RunContext.h"

namespace vestrel {
namespace {

namespace fs = std::filesystem;
using Labels = std::vector<std::string>;

std::string repeated(const std::string& utf8, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += utf8;
  }
  return text;
}

Labels sorted(Labels labels) {
  std::sort(labels.begin(), labels.end());
  return labels;
}

using test::WorkingDirectory;

using WindowsChooser = ChooserDialogHarness;

TEST_F(WindowsChooser, CyrillicSearchAndSuggestionsMatchWindows1251Names) {
  for (const char* name : {"Игры", "ИГРУШКИ", "Alpha", "Ёлка"}) {
    makeFolder(name);
  }
  openInFolder();
  frames(2);
  ASSERT_GE(drawnIndexOf(platform::narrowText("Игры")), 0);  // listed in Windows-1251

  typeIntoSearch("иГР");
  EXPECT_EQ(sorted(visibleLabels()), sorted({"Игры", "ИГРУШКИ"}));

  typeIntoName("ёЛ");
  ASSERT_EQ(suggestionLabels(), (Labels{"Ёлка"}));
  press(suggestion(0));
  EXPECT_STREQ(model().nameInput, "Ёлка");
  clickSelect();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, root() + platform::narrowText("Ёлка") + "/");
}

// A Cyrillic letter is one byte of narrow text and two in the field: the limit of 255 is
// counted in the narrow bytes the name will be kept in.
TEST_F(WindowsChooser, NameFieldHolds255CyrillicLetters) {
  openInFolder();
  frames(2);
  // Wine keeps names in UTF-8 on a host that allows 255 bytes: 127 letters is the longest
  // Cyrillic folder that can be made here to be accepted.
  const std::string letters127 = repeated("я", 127);
  const std::string letters256 = repeated("ж", 256);
  makeFolder(letters127);  // accepting a folder checks that it may be written
  model().folders.push_back(chooserEntry(platform::narrowText(letters127), false));
  model().folders.push_back(chooserEntry(platform::narrowText(letters256), false));
  model().refilter();
  frame();

  press(entry(drawnIndexOf(platform::narrowText(letters256))));
  frames(2);
  EXPECT_TRUE(errorShown(text::kChooserErrorTitle));
  EXPECT_EQ(errorText(), text::kChooserNameTooLong);
  EXPECT_STREQ(model().nameInput, "");
  dismissError(text::kChooserErrorTitle);

  press(entry(drawnIndexOf(platform::narrowText(letters127))));
  EXPECT_EQ(std::string(model().nameInput), letters127);
  clickSelect();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, root() + platform::narrowText(letters127) + "/");

  frames(2);  // opened again by its owner
  typeIntoName(repeated("ф", 300));
  EXPECT_EQ(std::string(model().nameInput), repeated("ф", 255));
}

TEST_F(WindowsChooser, NamesNarrowTextCannotHoldAreRefusedWithTheirOwnError) {
  fs::create_directories(folder() / L"\u65E5\u672C");  // 日本
  openInFolder();
  frames(2);

  // Typed as a name in the listed folder.
  typeIntoName("\u65E5\u672C");
  clickSelect();
  frames(2);
  EXPECT_EQ(accepted_, 0);
  EXPECT_TRUE(errorShown(text::kChooserErrorTitle));
  EXPECT_EQ(errorText(), text::kChooserUnsupportedName);
  dismissError(text::kChooserErrorTitle);

  // Typed as a whole path and entered, to move there.
  std::string typed = platform::narrowToUtf8(root()) + "\u65E5\u672C";
  typeIntoName(typed);
  pressEnter();
  frames(2);
  EXPECT_EQ(accepted_, 0);
  EXPECT_EQ(model().currentPath, root());
  EXPECT_EQ(errorText(), text::kChooserUnsupportedName);
}

TEST_F(WindowsChooser, WorkingFolderNarrowTextCannotNameStartsAtTheDriveList) {
  const fs::path odd = folder() / L"\u65E5\u672C";  // 日本
  fs::create_directories(odd / "sub");
  WorkingDirectory cwd(odd);
  frames(2);  // the chooser opens where the installer was started

  EXPECT_TRUE(model().currentPath.empty());
  EXPECT_EQ(model().pathParts, (std::vector<std::string>{"Computer"}));
  bool sawC = false;
  for (const ChooserEntry& entry : model().folders) {
    EXPECT_NE(entry.name, "sub");
    sawC |= entry.drivePath == "C:/";
  }
  EXPECT_TRUE(sawC);

  // A relative name that leads back into that folder is refused, not taken as a location.
  typeIntoName("sub");
  pressEnter();
  frames(2);
  EXPECT_EQ(accepted_, 0);
  EXPECT_EQ(errorText(), text::kChooserUnsupportedName);
  EXPECT_TRUE(model().currentPath.empty());
  dismissError(text::kChooserErrorTitle);

  // A drive is still chosen as its own absolute folder.
  typeIntoName("C");
  pressEnter();
  EXPECT_EQ(accepted_, 1);
  EXPECT_EQ(accepted_path_, "C:/");
}

TEST(WindowsNarrowText, Utf8ToNarrowIsExactOrFalse) {
  std::string narrow;
  EXPECT_TRUE(platform::utf8ToNarrow("C:/Игры/Ёж №1 €/", narrow));
  EXPECT_EQ(narrow, "C:/\xC8\xE3\xF0\xFB/\xA8\xE6 \xB9\x31 \x88/");
  EXPECT_TRUE(platform::utf8ToNarrow("", narrow));
  EXPECT_EQ(narrow, "");
  // No equivalent, a best-fit look-alike only (é to e), and malformed UTF-8.
  for (const char* utf8 : {"\u65E5\u672C", "Caf\u00E9", "ab\xD0"}) {
    EXPECT_FALSE(platform::utf8ToNarrow(utf8, narrow)) << utf8;
  }
}

TEST(WindowsStoredFolder, ValueNarrowTextCannotHoldCountsAsNoFolder) {
  platform::setProcessLocale();
  for (const std::wstring value : {L"C:/\u65E5\u672C/", L"C:/Caf\u00E9/"}) {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vestrel");
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Vestrel", L"launcherPath", REG_SZ,
                              value.c_str(), static_cast<DWORD>((value.size() + 1) * 2)),
              ERROR_SUCCESS);
    std::string narrow = "left over";
    EXPECT_FALSE(platform::readStoredFolder(narrow));
    EXPECT_TRUE(narrow.empty());
    EXPECT_EQ(loadInstallFolder(), "");
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vestrel");
}

}  // namespace
}  // namespace vestrel
