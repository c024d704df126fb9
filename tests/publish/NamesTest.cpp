// The name rules that are not visible from a single refusal: the Windows-1251 spelling, the
// reserved names and the letter-case key.
#include <gtest/gtest.h>

#include "publish/PublishRules.h"
#include "support/Windows1251.h"
#include "update/lists/ListRules.h"

namespace vestrel::publish {
namespace {

TEST(PublishNames, Windows1251SpellsEveryAssignedByteBothWays) {
  for (int byte = 0x01; byte <= 0xFF; ++byte) {
    if (byte == 0x98) {
      continue;  // unassigned
    }
    const std::string original(1, static_cast<char>(byte));
    std::string back;
    ASSERT_TRUE(utf8ToWindows1251(windows1251ToUtf8(original), back)) << byte;
    EXPECT_EQ(back, original) << byte;
  }
  std::string spelled;
  ASSERT_TRUE(utf8ToWindows1251("Ёжик ёж №5 €", spelled));
  EXPECT_EQ(spelled, "\xA8\xE6\xE8\xEA \xB8\xE6 \xB9\x35 \x88");
  ASSERT_TRUE(utf8ToWindows1251("АЯая", spelled));
  EXPECT_EQ(spelled, "\xC0\xDF\xE0\xFF");
}

TEST(PublishNames, NamesWindows1251CannotSpellAreRefused) {
  std::string spelled;
  std::string why;
  for (const char* name : {"\xC2\x98",  // U+0098, the character of no byte
                           "ä", "ß", "中", "😀"}) {
    EXPECT_FALSE(utf8ToWindows1251(name, spelled, &why)) << name;
    EXPECT_NE(why.find("U+"), std::string::npos) << why;
  }
  for (const char* bad : {"\xD0", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xFF"}) {
    EXPECT_FALSE(utf8ToWindows1251(bad, spelled, &why));
    EXPECT_EQ(why, "not valid UTF-8");
  }
}

TEST(PublishNames, ReservedNamesInAnyCaseAndWithAnyExtension) {
  for (const char* name : {"CON", "con", "Prn.txt", "aux.tar.gz", "NUL", "COM1", "com9.log", "LPT1",
                           "lpt9.dat", "CON .txt"}) {
    EXPECT_TRUE(isReservedName(name)) << name;
  }
  for (const char* name :
       {"CONSOLE", "icon", "con_", "COM", "COM0", "COM10", "LPT", "nul-file", ".con", "ком1"}) {
    EXPECT_FALSE(isReservedName(name)) << name;
  }
}

TEST(PublishNames, LetterCaseIsIgnoredAsWindowsIgnoresIt) {
  EXPECT_EQ(caseKey("Readme.TXT"), caseKey("readme.txt"));
  EXPECT_EQ(caseKey("ДАННЫЕ"), caseKey("данные"));
  EXPECT_EQ(caseKey("ЁЂЃЄЅІЇЈЉЊЋЌЎЏҐ"), caseKey("ёђѓєѕіїјљњћќўџґ"));
  EXPECT_NE(caseKey("е"), caseKey("ё"));
  EXPECT_NE(caseKey("a"), caseKey("а"));  // Latin and Cyrillic a
}

TEST(PublishNames, MessagesShowNoRawControlOrBrokenBytes) {
  EXPECT_EQ(printableName("a\x1b[2Jb\n"), "a\\x1b[2Jb\\x0a");
  EXPECT_EQ(printableName("\xFF\xD0"), "\\xff\\xd0");
  EXPECT_EQ(printableName("\xC2\x85"), "\\xc2\\x85");  // a C1 control, though valid UTF-8
  EXPECT_EQ(printableName("Данные 😀"), "Данные 😀");
}

}  // namespace
}  // namespace vestrel::publish
