// What `make` writes, and how it replaces what was there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "PublishTestSupport.h"
#include "publish/ListWriter.h"
#include "publish/PublishRules.h"
#include "update/lists/ListRules.h"

namespace vestrel::publish {
namespace {

using test::runPublish;
using test::TempTree;

TEST(PublishLists, ListsAreSortedDistinctAndInWindows1251) {
  TempTree tree;
  tree.put("bin/a.txt", "abc");
  tree.put("bin/b.txt", "abc");  // the same digest once
  tree.makeFolder("bin/sub");
  tree.put("bin-old/x.txt", "x");  // '-' sorts before '/': not the order of a walk
  tree.put("Zeta.txt", "x");       // upper case sorts before lower case
  tree.put("Данные игры/файл 1.txt", "");
  // In Windows-1251 "ё" sorts before "е" and "Д", unlike in UTF-8.
  tree.put("ель.txt", "");
  tree.put("ёлка.txt", "x");
  tree.makeFolder("empty/nested");
  tree.put("data/.launcher/keep", "k");  // only the top .launcher is the lists' folder
  tree.put(".launcher/notes.txt", "the publisher's own notes");

  const test::Run run = runPublish({"make", tree.path()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");

  // "Данные игры", "файл 1.txt", "ёлка" and "ель" as the players' installers store them.
  const std::string data = "\xC4\xE0\xED\xED\xFB\xE5 \xE8\xE3\xF0\xFB";
  EXPECT_EQ(tree.read(".launcher/udirs.lists"),
            "bin\nbin-old\nbin/sub\ndata\ndata/.launcher\nempty\nempty/nested\n" + data + "\n");
  EXPECT_EQ(tree.read(".launcher/ufile.lists"),
            "Zeta.txt\nbin-old/x.txt\nbin/a.txt\nbin/b.txt\ndata/.launcher/keep\n"
            "\xB8\xEB\xEA\xE0.txt\n" +
                data + "/\xF4\xE0\xE9\xEB 1.txt\n\xE5\xEB\xFC.txt\n");
  EXPECT_EQ(tree.read(".launcher/uhash.lists"),
            "8ce4b16b22b58894aa86c421e8759df3\n"
            "900150983cd24fb0d6963f7d28e17f72\n"
            "9dd4e461268c8034f5c8564e155c67a6\n"
            "d41d8cd98f00b204e9800998ecf8427e\n");
  EXPECT_EQ(tree.read(".launcher/notes.txt"), "the publisher's own notes");

  // The installer's own reading takes every list whole.
  const std::string root = budgetRoot(kDefaultRootBudget);
  for (const ListKind kind : {ListKind::Folders, ListKind::Files, ListKind::Digests}) {
    const std::string path = tree.path() + "/.launcher/" + listFileName(kind);
    EXPECT_TRUE(readCheckedList(path, kind, root).accepted) << listFileName(kind);
  }
}

TEST(PublishLists, AnEmptyTreeHasEmptyLists) {
  TempTree tree;
  ASSERT_EQ(runPublish({"make", tree.path()}).status, 0);
  const std::map<std::string, std::string> empty = {
      {"udirs.lists", ""}, {"ufile.lists", ""}, {"uhash.lists", ""}};
  EXPECT_EQ(tree.listFolder(), empty);
}

TEST(PublishLists, ListsAreReplacedWholeByRenaming) {
  const mode_t umaskBefore = umask(022);
  TempTree tree;
  tree.put("one.txt", "1");
  ASSERT_EQ(runPublish({"make", tree.path()}).status, 0);
  // A reader holding the old list (a second name for the same file) keeps seeing it whole:
  // the new list is a new file put in its place, never the old one rewritten.
  const std::string list = tree.path() + "/.launcher/ufile.lists";
  const std::string held = tree.path() + "/held";
  std::filesystem::create_hard_link(list, held);

  tree.put("two.txt", "2");
  ASSERT_EQ(runPublish({"make", tree.path()}).status, 0);
  EXPECT_EQ(tree.read("held"), "one.txt\n");
  EXPECT_EQ(tree.read(".launcher/ufile.lists"), "held\none.txt\ntwo.txt\n");
  EXPECT_EQ(tree.listFolder().size(), 3u);  // no temporary file left behind

  struct stat status {};
  ASSERT_EQ(stat(list.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u) << "the web server must be able to read it";
  umask(umaskBefore);
}

TEST(PublishLists, AListThatCannotBeReplacedStopsEveryList) {
  TempTree tree;
  tree.put("one.txt", "1");
  ASSERT_EQ(runPublish({"make", tree.path()}).status, 0);
  const auto before = tree.listFolder();
  std::filesystem::remove(tree.path() + "/.launcher/uhash.lists");
  tree.makeFolder(".launcher/uhash.lists");
  tree.put("two.txt", "2");

  const test::Run run = runPublish({"make", tree.path()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(test::hasLine(run.errLines(), tree.path(), ".launcher/uhash.lists",
                            ruleText(Rule::ListsNotWritten)))
      << run.err;
  EXPECT_EQ(tree.read(".launcher/udirs.lists"), before.at("udirs.lists"));
  EXPECT_EQ(tree.read(".launcher/ufile.lists"), before.at("ufile.lists"));
}

TEST(PublishLists, BodiesTheInstallerWouldRefuseAreNeverWritten) {
  const std::string root = budgetRoot(kDefaultRootBudget);
  Problems problems;
  EXPECT_TRUE(verifyBodies({"a\n", "a/b\n", std::string(32, 'f') + "\n"}, root, problems));
  EXPECT_TRUE(problems.empty());

  // A line with a control byte, and a folder list past the size limit.
  std::string folders;
  while (folders.size() <= kMaxListBytes) {
    folders += std::string(150, 'd') + std::to_string(folders.size()) + "\n";
  }
  EXPECT_FALSE(verifyBodies({folders, "a\x01b\n", ""}, root, problems));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].path, ".launcher/udirs.lists");
  EXPECT_EQ(problems[0].rule, Rule::ListTooLarge);
  EXPECT_EQ(problems[1].path, ".launcher/ufile.lists");
  EXPECT_EQ(problems[1].rule, Rule::ListRefused);
}

}  // namespace
}  // namespace vestrel::publish
