#include <gtest/gtest.h>

#include "update/InstallState.h"
#include "update/lists/ListRules.h"

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
  // Names the players' Windows installers cannot write, component by component.
  for (const char* line :
       {"a\\b", "a<b", "dir:x/f", "a/b?", "bin./f", "f ", "con", "x/LPT1.txt", "/abs", "a//b"}) {
    EXPECT_FALSE(acceptableListLine(ListKind::Files, root, line)) << line;
  }
  EXPECT_FALSE(acceptableListLine(ListKind::Folders, root, "data/aux"));
  EXPECT_TRUE(acceptableListLine(ListKind::Files, root, "console/com10.txt"));
  for (const ListKind kind : {ListKind::Folders, ListKind::Files, ListKind::Digests}) {
    EXPECT_FALSE(acceptableListLine(kind, root, "a\tb"));
    EXPECT_FALSE(acceptableListLine(kind, root, "a\x7f"));
    EXPECT_FALSE(acceptableListLine(kind, root, std::string("a\0b", 3)));
  }
  for (const ListKind kind : {ListKind::Folders, ListKind::Files}) {
    EXPECT_TRUE(acceptableListLine(kind, root, "\xD0\x94\xD0\xB0 b"));  // non-ASCII, blank
  }
  // A digest is 32 lowercase hex digits, nothing else: an HTML page is no digest list.
  EXPECT_TRUE(acceptableListLine(ListKind::Digests, root, "0123456789abcdef0123456789abcdef"));
  for (const char* line : {"0123456789ABCDEF0123456789abcdef", "0123456789abcdef0123456789abcde",
                           "0123456789abcdef0123456789abcdef0", "<html>", ""}) {
    EXPECT_FALSE(acceptableListLine(ListKind::Digests, root, line)) << line;
  }

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
  EXPECT_EQ(full.lines.back(), "f" + std::to_string(kMaxListLines - 1));

  const CheckedList over = checkListText(lines + "extra", ListKind::Files, "/r/");
  EXPECT_FALSE(over.accepted);
  EXPECT_TRUE(over.lines.empty());
  EXPECT_EQ(over.refusedLine, "extra");
  EXPECT_TRUE(checkListText(lines + "extra", ListKind::Folders, "/r/").accepted);

  const CheckedList longLine =
      checkListText(std::string(32, 'a') + "\n" + std::string(5000, 'z'), ListKind::Digests, "");
  EXPECT_FALSE(longLine.accepted);
  EXPECT_LE(longLine.refusedLine.size(), kMaxListLineBytes + 1);
}

TEST(ListRules, AFileListNamesEachLocalFileOnceAndNoneOfTheInstallersOwn) {
  const auto refusedAt = [](const std::string& body) {
    const CheckedList list = checkListText(body, ListKind::Files, "/r/");
    return list.accepted ? std::string("accepted") : list.refusedLine;
  };
  // A line repeated byte for byte, whatever its line end, names one file, taken once; another
  // spelling of the same local file is refused.
  const CheckedList repeated = checkListText("a\r\nb\na\n", ListKind::Files, "/r/");
  EXPECT_TRUE(repeated.accepted);
  EXPECT_EQ(repeated.lines, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(refusedAt("a\nb\nA\n"), "A");
  EXPECT_EQ(refusedAt("launcher.exe\nx\nlauncher_new.exe\n"), "launcher_new.exe");
  EXPECT_EQ(refusedAt("d/\xC8\xE3\xF0\xE0\nD/\xE8\xE3\xF0\xE0\n"),
            "D/\xE8\xE3\xF0\xE0");  // Игра, игра
  EXPECT_EQ(refusedAt("Installer.LOG\n"), "Installer.LOG");
  EXPECT_EQ(refusedAt("sub/UHASH.lists\n"), "sub/UHASH.lists");
  EXPECT_EQ(refusedAt("data/urelease.lists\n"), "data/urelease.lists");
  EXPECT_EQ(refusedAt("big.pak.vestrel-part\n"), "big.pak.vestrel-part");
  EXPECT_EQ(refusedAt("a/b/c\nx\na/b\n"), "a/b/c");  // a file below a file, either order
  EXPECT_EQ(refusedAt("launcher.exe\nLauncher.exe/x\nsub/installer.log\n"), "accepted");

  ListKind kind = ListKind::Folders;
  std::string line;
  const std::vector<std::string> none;
  EXPECT_FALSE(releaseListsAgree(none, {"a"}, none, kind, line));
  EXPECT_EQ(kind, ListKind::Digests);
  EXPECT_TRUE(releaseListsAgree({"bin"}, none, none, kind, line));
  // A listed folder where a file is listed, or below one.
  EXPECT_FALSE(releaseListsAgree({"data", "Bin/x"}, {"data/a", "bin"}, {"d"}, kind, line));
  EXPECT_EQ(kind, ListKind::Files);
  EXPECT_EQ(line, "bin");
  EXPECT_TRUE(releaseListsAgree({"data", "bin"}, {"data/a", "bin/a"}, {"d"}, kind, line));
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
