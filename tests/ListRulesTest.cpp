#include <gtest/gtest.h>

#include "update/InstallState.h"
#include "update/ListRules.h"

namespace vestrel {
namespace {

TEST(ListRules, EachKindHasItsOwnLineRules) {
  const std::string root = "/games/vestrel/";
  // A blank folder line names the root itself and is harmless; a blank file line would
  // queue the root as a file.
  EXPECT_TRUE(acceptableListLine(ListKind::Folders, root, ""));
  EXPECT_FALSE(acceptableListLine(ListKind::Files, root, ""));
  EXPECT_TRUE(acceptableListLine(ListKind::Folders, root, "data/"));
  EXPECT_FALSE(acceptableListLine(ListKind::Files, root, "data/"));
  EXPECT_TRUE(acceptableListLine(ListKind::Files, root, "/abs\\odd"));  // never matches, kept
  for (const ListKind kind : {ListKind::Folders, ListKind::Files, ListKind::Digests}) {
    EXPECT_FALSE(acceptableListLine(kind, root, "a\tb"));
    EXPECT_FALSE(acceptableListLine(kind, root, "a\x7f"));
    EXPECT_FALSE(acceptableListLine(kind, root, std::string("a\0b", 3)));
    EXPECT_TRUE(acceptableListLine(kind, root, "\xD0\x94\xD0\xB0 b"));  // non-ASCII, blank
  }
  EXPECT_TRUE(acceptableListLine(ListKind::Digests, root, ".."));  // digests are not paths

  // Composed paths must fit 259 bytes: "%s%s" for files, "%s/%s" for folders.
  const std::string fits(kPathBufferSize - 1 - root.size(), 'f');
  EXPECT_TRUE(acceptableListLine(ListKind::Files, root, fits));
  EXPECT_FALSE(acceptableListLine(ListKind::Files, root, fits + "f"));
  EXPECT_FALSE(acceptableListLine(ListKind::Folders, root, fits));
  EXPECT_TRUE(acceptableListLine(ListKind::Folders, root, fits.substr(1)));
}

TEST(ListRules, CheckedListsCountLinesOnlyWhereTablesAreFixed) {
  std::string lines;
  for (std::size_t i = 0; i < kMaxListLines; ++i) {
    lines += "f" + std::to_string(i) + "\r\n";
  }
  const CheckedList full = checkListText(lines, ListKind::Files, "/r/");
  EXPECT_TRUE(full.accepted);
  ASSERT_EQ(full.lines.size(), kMaxListLines);
  EXPECT_EQ(full.lines.back(), "f499");

  const CheckedList over = checkListText(lines + "extra", ListKind::Files, "/r/");
  EXPECT_FALSE(over.accepted);
  EXPECT_TRUE(over.lines.empty());
  EXPECT_EQ(over.refusedLine, "extra");
  EXPECT_TRUE(checkListText(lines + "extra", ListKind::Folders, "/r/").accepted);

  const CheckedList longLine =
      checkListText("ok\n" + std::string(5000, 'z'), ListKind::Digests, "");
  EXPECT_FALSE(longLine.accepted);
  EXPECT_LE(longLine.refusedLine.size(), kMaxListLineBytes + 1);
}

TEST(ListRules, RefusedLinesAreLoggedPrintableAndShort) {
  EXPECT_EQ(printableListLine("a\x1b[31mb\r\x7f"), "a\\x1b[31mb\\x0d\\x7f");
  EXPECT_EQ(printableListLine(std::string(300, 'x')), std::string(200, 'x'));
  EXPECT_EQ(printableListLine("\xD0\x94"), "\xD0\x94");
}

TEST(ListRules, LinesSpelledInWindows1251BecomeThisSystemsNarrowText) {
  // "Игры/Карта 1.map" as the lists spell it; on this system narrow text is UTF-8.
  const CheckedList list =
      checkListText("\xC8\xE3\xF0\xFB/\xCA\xE0\xF0\xF2\xE0 1.map\n", ListKind::Files, "/r/");
  ASSERT_TRUE(list.accepted);
  EXPECT_EQ(list.lines, std::vector<std::string>{"Игры/Карта 1.map"});
  // 0x98 is the one byte Windows-1251 leaves unassigned: no file can be named by it.
  const CheckedList unassigned = checkListText(
      "ok\na\x98"
      "b\n",
      ListKind::Folders, "/r/");
  EXPECT_FALSE(unassigned.accepted);
  EXPECT_EQ(unassigned.refusedLine,
            "a\x98"
            "b");
}

}  // namespace
}  // namespace vestrel
