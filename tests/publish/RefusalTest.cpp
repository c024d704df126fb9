// Trees the players' installers could not take: the program refuses each with one line naming
// the path and the rule, and leaves the lists exactly as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "PublishTestSupport.h"
#include "publish/Problem.h"
#include "publish/PublishRules.h"
#include "update/lists/ListRules.h"

namespace vestrel::publish {
namespace {

using test::hasLine;
using test::runPublish;
using test::TempTree;

struct RefusalCase {
  const char* label;
  std::function<void(const TempTree&)> spoil;
  std::string path;  // the path the problem line must name ("" for the tree)
  Rule rule;
  std::vector<std::string> options = {};
};

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) {
    out += piece;
  }
  return out;
}

void link(const TempTree& tree, const std::string& target, const std::string& relative) {
  std::filesystem::create_symlink(target, std::filesystem::path(tree.path()) / relative);
}

// "д" and "ж" are one byte each in Windows-1251 and two in UTF-8: these paths fit only
// when measured as the players' installers store them.
const std::string kLongFolder = repeated("д", 100);

std::vector<RefusalCase> refusalCases() {
  auto file = [](std::string relative) {
    return [relative](const TempTree& tree) { tree.put(relative, "x"); };
  };
  return {
      {"control byte", file("bin/bell\x07.txt"), "bin/bell\\x07.txt", Rule::ControlByte},
      {"backslash", file("bin/a\\b.txt"), "bin/a\\b.txt", Rule::Backslash},
      {"link to a file", [](const TempTree& t) { link(t, "a.txt", "bin/alias.txt"); },
       "bin/alias.txt", Rule::SymbolicLink},
      {"link to a folder", [](const TempTree& t) { link(t, "../data", "bin/more"); }, "bin/more",
       Rule::SymbolicLink},
      {"pipe",
       [](const TempTree& t) { ASSERT_EQ(mkfifo((t.path() + "/bin/pipe").c_str(), 0600), 0); },
       "bin/pipe", Rule::NotRegular},
      {"list name deep in the tree", file("data/old/ufile.lists"), "data/old/ufile.lists",
       Rule::ListFileName},
      {"list name at the top", file("uhash.lists"), "uhash.lists", Rule::ListFileName},
      {"the installer's log", file("Installer.log"), "Installer.log", Rule::InstallerFileName},
      {"a download not yet verified", file("bin/big.pak.vestrel-part"), "bin/big.pak.vestrel-part",
       Rule::InstallerFileName},
      {"launcher.exe's copy",
       [](const TempTree& tree) {
         tree.put("launcher.exe", "l");
         tree.put("launcher_new.exe", "n");
       },
       "launcher_new.exe", Rule::CaseClash},
      {"ASCII case", file("bin/A.TXT"), "bin/a.txt", Rule::CaseClash},
      {"Cyrillic case",
       [](const TempTree& t) {
         t.put("Ёлки/один", "1");
         t.put("ёЛКИ/два", "2");
       },
       "ёЛКИ", Rule::CaseClash},
      {"file and folder differing in case", file("BIN"), "bin", Rule::CaseClash},
      {"CON", file("CON"), "CON", Rule::ReservedName},
      {"nul with an extension", file("data/nul.tar.gz"), "data/nul.tar.gz", Rule::ReservedName},
      {"Com7 folder", file("Com7/x"), "Com7", Rule::ReservedName},
      {"lpt1", file("lpt1.log"), "lpt1.log", Rule::ReservedName},
      {"ends in a dot", file("data/notes."), "data/notes.", Rule::TrailingDotOrSpace},
      {"ends in a space", file("data/notes "), "data/notes ", Rule::TrailingDotOrSpace},
      {"<", file("a<b"), "a<b", Rule::ForbiddenCharacter},
      {">", file("a>b"), "a>b", Rule::ForbiddenCharacter},
      {":", file("a:b"), "a:b", Rule::ForbiddenCharacter},
      {"quote", file("a\"b"), "a\"b", Rule::ForbiddenCharacter},
      {"|", file("a|b"), "a|b", Rule::ForbiddenCharacter},
      {"?", file("a?b"), "a?b", Rule::ForbiddenCharacter},
      {"*", file("a*b"), "a*b", Rule::ForbiddenCharacter},
      {"letter outside Windows-1251", file("straße.txt"), "straße.txt", Rule::NotWindows1251},
      {"emoji", file("data/😀"), "data/😀", Rule::NotWindows1251},
      {"not UTF-8", file("data/\xff.bin"), "data/\\xff.bin", Rule::NotWindows1251},
      // 100 + 160 > 259 for a file ("%s%s").
      {"file one byte too long", file(kLongFolder + "/" + repeated("ж", 59)),
       kLongFolder + "/" + repeated("ж", 59), Rule::PathTooLong},
      // 100 + 1 + 159 > 259 for a folder ("%s/%s"), though a file of that length fits.
      {"folder one byte too long",
       [](const TempTree& t) { t.makeFolder(kLongFolder + "/" + repeated("ж", 58)); },
       kLongFolder + "/" + repeated("ж", 58), Rule::PathTooLong},
      {"root budget",
       file(repeated("a", 60)),
       repeated("a", 60),
       Rule::PathTooLong,
       {"--root-budget", "200"}},
  };
}

TEST(PublishRefusals, EachRuleRefusesTheTreeAndLeavesTheListsAlone) {
  for (const RefusalCase& c : refusalCases()) {
    SCOPED_TRACE(c.label);
    TempTree tree;
    tree.put("bin/a.txt", "a");
    tree.put("data/b.txt", "b");
    ASSERT_EQ(runPublish({"make", tree.path()}).status, 0);
    const auto before = tree.listFolder();
    ASSERT_EQ(before.size(), 3u);

    c.spoil(tree);
    std::vector<std::string> arguments = {"make"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(tree.path());
    const test::Run run = runPublish(arguments);

    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(hasLine(run.errLines(), tree.path(), c.path, ruleText(c.rule))) << run.err;
    EXPECT_EQ(run.errLines().size(), 1u) << run.err;
    EXPECT_EQ(tree.listFolder(), before);
  }
}

TEST(PublishRefusals, PathsThatFitInWindows1251AreTaken) {
  TempTree tree;
  tree.put(kLongFolder + "/" + repeated("ж", 58), "fits as a file");
  tree.makeFolder(kLongFolder + "/" + repeated("ж", 57));
  EXPECT_EQ(runPublish({"make", tree.path()}).status, 0);

  TempTree small;
  small.put(repeated("a", 59), "fits under a 200-byte folder");
  EXPECT_EQ(runPublish({"make", "--root-budget", "200", small.path()}).status, 0);
}

TEST(PublishRefusals, EveryProblemIsReportedOnce) {
  TempTree tree;
  tree.put("CON/inside.txt", "x");  // one problem, not repeated for what it holds
  tree.put("a?b", "x");
  tree.put(repeated("q", 200) + "/" + repeated("r", 100), "x");  // the folder is too long
  const test::Run run = runPublish({"make", tree.path()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.errLines().size(), 3u) << run.err;
  EXPECT_TRUE(tree.listFolder().empty());
}

TEST(PublishRefusals, TheCountLimitsHaveTheirOwnLines) {
  // A tree of 200,001 files would take long to make; the counts are the rule's whole input.
  // (A tree holds at least as many files as digests, so that limit only shows here anyway.)
  Problems problems;
  checkCounts(kMaxListLines, kMaxListLines, problems);
  EXPECT_TRUE(problems.empty());
  checkCounts(kMaxListLines + 1, kMaxListLines, problems);
  checkCounts(kMaxListLines, kMaxListLines + 1, problems);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].rule, Rule::TooManyFiles);
  EXPECT_EQ(problems[1].rule, Rule::TooManyDigests);
}

}  // namespace
}  // namespace vestrel::publish
