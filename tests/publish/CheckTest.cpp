// `check`: a tree against the lists made for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "PublishTestSupport.h"
#include "publish/Commands.h"
#include "publish/Problem.h"
#include "update/lists/ListRules.h"

namespace vestrel::publish {
namespace {

using test::hasLine;
using test::runPublish;
using test::TempTree;

void publishedTree(const TempTree& tree) {
  tree.put("bin/a.txt", "a");
  tree.put("bin/b.txt", "b");
  tree.put("Данные/карта 1.map", "map");
  ASSERT_EQ(runPublish({"make", tree.path()}).status, 0);
}

TEST(PublishCheck, ACorrectTreePasses) {
  TempTree tree;
  publishedTree(tree);
  const test::Run run = runPublish({"check", tree.path()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

struct Difference {
  const char* label;
  std::function<void(const TempTree&)> change;
  std::vector<std::pair<std::string, Rule>> lines;  // every line the check must print
};

TEST(PublishCheck, EachDifferenceIsNamed) {
  const std::vector<Difference> cases = {
      {"file changed",
       [](const TempTree& t) { t.put("Данные/карта 1.map", "new map"); },
       {{"Данные/карта 1.map", Rule::DigestNotListed},
        {".launcher/uhash.lists", Rule::DigestUnused}}},
      {"file added",
       [](const TempTree& t) { t.put("bin/c.txt", "c"); },
       {{"bin/c.txt", Rule::NotListed}}},
      {"file removed",
       [](const TempTree& t) { std::filesystem::remove(t.path() + "/bin/b.txt"); },
       {{"bin/b.txt", Rule::ListedButMissing}, {".launcher/uhash.lists", Rule::DigestUnused}}},
      {"folder added",
       [](const TempTree& t) { t.makeFolder("Данные/пусто"); },
       {{"Данные/пусто", Rule::NotListed}}},
      {"list removed",
       [](const TempTree& t) { std::filesystem::remove(t.path() + "/.launcher/udirs.lists"); },
       {{".launcher/udirs.lists", Rule::ListMissing}}},
      {"list over the line limit",
       [](const TempTree& t) {
         std::string lines;
         for (std::size_t i = 0; i <= kMaxListLines; ++i) {
           lines += "f" + std::to_string(i) + "\n";
         }
         t.put(".launcher/ufile.lists", lines);
       },
       {{".launcher/ufile.lists", Rule::ListRefused}}},
      {"tree breaking rules",
       [](const TempTree& t) {
         t.put("a?b", "x");
         std::filesystem::remove_all(t.path() + "/Данные");
         std::filesystem::create_directory_symlink("bin", t.path() + "/Данные");
         t.put("bin/c.txt", "c");
       },
       // Named as make names them, the rest still compared; what they keep out of the lists
       // is not also missing from them, and with a?b unhashed no listed digest is unused.
       {{"a?b", Rule::ForbiddenCharacter},
        {"Данные", Rule::SymbolicLink},
        {"bin/c.txt", Rule::NotListed}}},
  };
  for (const Difference& c : cases) {
    SCOPED_TRACE(c.label);
    TempTree tree;
    publishedTree(tree);
    c.change(tree);
    const test::Run run = runPublish({"check", tree.path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errLines().size(), c.lines.size()) << run.err;
    for (const auto& [path, rule] : c.lines) {
      EXPECT_TRUE(hasLine(run.errLines(), tree.path(), path, ruleText(rule))) << run.err;
    }
  }
}

TEST(PublishCheck, ListsAreReadUnderTheSameInstallFolder) {
  TempTree tree;
  tree.put(std::string(150, 'n'), "x");
  ASSERT_EQ(runPublish({"make", tree.path()}).status, 0);
  EXPECT_TRUE(checkLists(tree.path(), Options{}).consistent);

  Options tight;
  tight.rootBudget = 150;
  const CheckResult result = checkLists(tree.path(), tight);
  EXPECT_FALSE(result.consistent);
  // The file list is refused as the installer would refuse it, and the tree as make would.
  ASSERT_EQ(result.differences.size(), 2u);
  EXPECT_EQ(result.differences[0].rule, Rule::ListRefused);
  EXPECT_EQ(result.differences[0].path, ".launcher/ufile.lists");
  EXPECT_EQ(result.differences[1].rule, Rule::PathTooLong);
  EXPECT_EQ(result.differences[1].path, std::string(150, 'n'));
}

}  // namespace
}  // namespace vestrel::publish
