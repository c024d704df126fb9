#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "update/lists/ListRules.h"
#include "update/lists/ManifestLines.h"

namespace vestrel {
namespace {

std::vector<std::string> linesOf(const std::string& bytes) {
  test::TempDir dir;
  const auto path = dir.path() / "list";
  test::writeFile(path, bytes);
  std::vector<std::string> lines;
  readListLines(path.string(), [&](const std::string& line) {
    lines.push_back(line);
    return true;
  });
  return lines;
}

using Lines = std::vector<std::string>;

TEST(ReadListLines, LineEndsAndBlanksFollowTheTextRules) {
  EXPECT_EQ(linesOf("a\nb/c\n"), (Lines{"a", "b/c"}));
  EXPECT_EQ(linesOf("a\r\nb/c\r\n"), (Lines{"a", "b/c"}));  // CR LF reads like LF
  EXPECT_EQ(linesOf("a\nlast"), (Lines{"a", "last"}));      // no final LF needed
  EXPECT_EQ(linesOf(""), Lines{});
  EXPECT_EQ(linesOf("\n"), Lines{""});
  // Nothing is trimmed or skipped: blanks, blank lines, a CR that does not end a line.
  EXPECT_EQ(linesOf(" a \n\n#x\n"), (Lines{" a ", "", "#x"}));
  EXPECT_EQ(linesOf("a\rb\r\r\nc\r"), (Lines{"a\rb\r", "c\r"}));
}

TEST(ReadListLines, MissingFileYieldsNothingAndReaderMayStop) {
  int calls = 0;
  readListLines("/nonexistent/vestrel/list", [&](const std::string&) { return ++calls > 0; });
  EXPECT_EQ(calls, 0);

  test::TempDir dir;
  test::writeFile(dir.path() / "list", "1\n2\n3\n");
  Lines seen;
  readListLines((dir.path() / "list").string(), [&](const std::string& line) {
    seen.push_back(line);
    return seen.size() < 2;
  });
  EXPECT_EQ(seen, (Lines{"1", "2"}));
}

TEST(ReadListLines, LinesAcrossReadChunksStayWholeUpToTheLimit) {
  const std::string longest(kMaxListLineBytes, 'x');
  // Twenty lines of 200 bytes put the longest line across the reader's 4096-byte chunk edge.
  std::string text;
  Lines expected;
  for (int i = 0; i < 20; ++i) {
    expected.push_back(std::string(200, static_cast<char>('a' + i)));
    text += expected.back() + "\n";
  }
  expected.insert(expected.end(), {longest, "b"});
  EXPECT_EQ(linesOf(text + longest + "\r\nb"), expected);
  EXPECT_EQ(linesOf(longest), Lines{longest});  // the limit holds for a last line too
}

TEST(ReadListLines, OverLongLineStopsTheReadingAtOnce) {
  test::TempDir dir;
  const auto path = dir.path() / "list";
  // One line of 64 MiB would otherwise be held in memory whole.
  test::writeFile(path, "a\n" + std::string(kMaxListLineBytes + 1, 'x') + "\nnever read\n" +
                            std::string(1 << 20, 'y'));
  Lines seen;
  std::string start;
  const ListRead result = readListLines(
      path.string(),
      [&](const std::string& line) {
        seen.push_back(line);
        return true;
      },
      &start);
  EXPECT_EQ(result, ListRead::LineTooLong);
  EXPECT_EQ(seen, Lines{"a"});
  EXPECT_EQ(start.substr(0, 10), "xxxxxxxxxx");
  EXPECT_LE(start.size(), kMaxListLineBytes + 1);

  test::writeFile(path, std::string(kMaxListLineBytes + 1, 'x'));  // no LF at all
  EXPECT_EQ(readListLines(path.string(), [](const std::string&) { return true; }),
            ListRead::LineTooLong);
}

TEST(LeavesInstallRoot, DotDotComponentUnderEitherSeparator) {
  for (const char* bad :
       {"..", "../x", "a/../b", "a/..", "a\\..\\b", "..\\x", "a/b\\..", "a//../b"}) {
    EXPECT_TRUE(leavesInstallRoot(bad)) << bad;
  }
  for (const char* fine : {"", "a", "..a", "a..", "...", "a/...b/c", ".", "./a", "a/.b"}) {
    EXPECT_FALSE(leavesInstallRoot(fine)) << fine;
  }
}

}  // namespace
}  // namespace vestrel
