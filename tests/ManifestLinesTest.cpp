#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "update/ManifestLines.h"

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

TEST(ReadListLines, LongLinesAcrossReadChunksStayWhole) {
  const std::string longLine(200000, 'x');
  EXPECT_EQ(linesOf("a\r\n" + longLine + "\r\nb"), (Lines{"a", longLine, "b"}));
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
