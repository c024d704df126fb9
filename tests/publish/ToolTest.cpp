// The program's arguments and its progress line.
#include <gtest/gtest.h>

#include <cstdio>

#include "PublishTestSupport.h"
#include "publish/Progress.h"
#include "publish/TreeScan.h"

namespace vestrel::publish {
namespace {

using test::runPublish;
using test::TempTree;

TEST(PublishTool, WrongArgumentsGetTheUsage) {
  TempTree tree;
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"make"},
      {"publish", tree.path()},
      {"make", tree.path(), tree.path()},
      {"check", "--verbose", tree.path()},
      {"make", "--root-budget", tree.path()},
      {"make", "--root-budget", "0", tree.path()},
      {"make", "--root-budget", "260", tree.path()},
      {"make", "--root-budget", "1e2", tree.path()},
      {"make", "--root-budget=-5", tree.path()},
      {"keygen"},
      {"make", tree.path(), "--serial", "3"},
      {"make", tree.path(), "--sign", "k", "--expires", "2030-02-30T00:00:00Z"},
      {"make", tree.path(), "--sign", "k", "--serial", "-1"},
      {"make", tree.path(), "--sign=", "--serial", "2"},
      {"make", tree.path(), "--key", "k"},
      {"check", tree.path(), "--key", "not-a-key"},
      {"check", tree.path(), "--sign", "k"},
  };
  for (const auto& arguments : wrong) {
    const test::Run run = runPublish(arguments);
    EXPECT_EQ(run.status, 2) << testing::PrintToString(arguments);
    EXPECT_EQ(run.err.rfind("usage: vestrel-publish", 0), 0u) << run.err;
    EXPECT_TRUE(tree.listFolder().empty());
  }
  EXPECT_EQ(runPublish({"make", "--root-budget=259", tree.path()}).status, 0);
}

TEST(PublishTool, ATreeThatIsNoFolderIsRefused) {
  TempTree tree;
  tree.put("file", "x");
  for (const char* command : {"make", "check"}) {
    const test::Run run = runPublish({command, tree.path() + "/file"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errLines().size(), 1u) << run.err;
  }
}

TEST(PublishTool, ProgressIsDrawnOnlyWhereAsked) {
  TempTree tree;
  tree.put("big.bin", std::string(3 * 1024 * 1024, 'b'));
  const test::Run run = runPublish({"make", tree.path()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "") << "no terminal, no progress line";

  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    HashProgress progress(out, true, 2, 2 * 1024 * 1024);
    progress.addBytes(1024 * 1024);
    progress.fileDone();
    progress.addBytes(1024 * 1024);
    progress.fileDone();
  }
  std::string drawn(4096, '\0');
  std::rewind(out);
  drawn.resize(std::fread(drawn.data(), 1, drawn.size(), out));
  std::fclose(out);
  EXPECT_NE(drawn.find("\rhashing: 2/2 files, 2.0/2.0 MiB"), std::string::npos) << drawn;
  EXPECT_EQ(drawn.back(), '\r') << "the line is wiped at the end";

  std::FILE* quiet = std::tmpfile();
  ASSERT_NE(quiet, nullptr);
  {
    HashProgress progress(quiet, false, 1, 10);
    progress.addBytes(10);
    progress.fileDone();
  }
  EXPECT_EQ(std::ftell(quiet), 0L);
  std::fclose(quiet);
}

// A file written to while it is hashed would get a digest of neither version.
TEST(PublishTool, AFileThatChangesAfterTheScanIsNoticed) {
  TempTree tree;
  tree.put("a.bin", "first");
  tree.put("b.bin", "kept");
  const TreeScan scan = scanTree(tree.path());
  ASSERT_EQ(scan.entries.size(), 2u);
  tree.put("a.bin", "second, longer");
  EXPECT_TRUE(changedSinceScan(scan.entries[0], tree.path() + "/a.bin"));
  EXPECT_FALSE(changedSinceScan(scan.entries[1], tree.path() + "/b.bin"));
  EXPECT_TRUE(changedSinceScan(scan.entries[1], tree.path() + "/gone.bin"));
}

}  // namespace
}  // namespace vestrel::publish
