#include <gtest/gtest.h>

#include "support/ErrorReport.h"
#include "support/Log.h"
#include "tests/ServerFixture.h"
#include "update/PrepareDirectories.h"
#include "update/RunContext.h"
#include "update/lists/ListRules.h"

namespace vestrel {
namespace {

class PrepareDirectoriesTest : public test::ServerFixture {
 protected:
  // Prepares `folder`, which must fail: the run cannot go on.
  void prepareEndsTheRun(const std::string& folder) {
    runContext().boxes.setSink(&test::boxIntoLog);
    startLog();
    EXPECT_FALSE(prepareDirectories(runContext().state, folder));
  }
};

TEST_F(PrepareDirectoriesTest, CreatesTheRootAndEveryListedFolder) {
  // Missing with its parent (a remembered folder whose parent was deleted): made again.
  const std::filesystem::path fresh = installDir() / "Игры" / "Лаунчер";
  publishList("udirs.lists", "a\nb/c/d\r\n\ne//f\nb/c\n");
  ASSERT_TRUE(prepareDirectories(runContext().state, fresh.string() + "/"));
  EXPECT_EQ(runContext().state.installFolder, fresh.string() + "/");
  for (const char* folder : {"a", "b/c/d", "e/f"}) {
    EXPECT_TRUE(std::filesystem::is_directory(fresh / folder)) << folder;
  }
  EXPECT_TRUE(std::filesystem::exists(fresh / "udirs.lists"));

  // Running again over existing folders is no error.
  ASSERT_TRUE(prepareDirectories(runContext().state, fresh.string() + "/"));
}

TEST_F(PrepareDirectoriesTest, FailedListFetchEndsTheRunAfterBothBoxes) {
  prepareEndsTheRun(root());
  const std::string text = log();
  const auto fetcherBox = text.find("BOX Во время работы авто-апдейтера произошла неизвестная");
  const auto ownBox = text.find("BOX Не удалось загрузить репозиторий.");
  const auto line = text.find("[T] [ОШИБКА] Не удалось загрузить список директорий для создания.");
  ASSERT_NE(fetcherBox, std::string::npos) << text;
  EXPECT_LT(fetcherBox, ownBox);
  EXPECT_LT(ownBox, line);
  EXPECT_NE(line, std::string::npos);
}

TEST_F(PrepareDirectoriesTest, RefusedListCreatesNothing) {
  test::TempDir outside;
  const std::string escape = "../" + outside.path().filename().string() + "/made";
  publishList("udirs.lists", "first\n" + escape + "\nlast\n");
  prepareEndsTheRun(root());
  EXPECT_FALSE(std::filesystem::exists(installDir() / "first"));
  EXPECT_FALSE(std::filesystem::exists(outside.path() / "made"));
  const std::string text = log();
  EXPECT_NE(text.find("[T] [ОШИБКА] Недопустимая строка в списке udirs.lists: " + escape + "\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("BOX Во время работы авто-апдейтера произошла ошибка:\nОшибка: сервер "
                      "прислал недопустимый список файлов."),
            std::string::npos);
}

TEST_F(PrepareDirectoriesTest, OversizedListIsRefusedWithoutTheFetchFailureBox) {
  publishList("udirs.lists", "a\n" + std::string(kMaxListBytes, 'x'));
  prepareEndsTheRun(root());
  EXPECT_FALSE(std::filesystem::exists(installDir() / "a"));
  // What arrived of it never takes the list's name, and its temporary file goes too.
  EXPECT_FALSE(std::filesystem::exists(installDir() / "udirs.lists"));
  EXPECT_FALSE(std::filesystem::exists(installDir() / "udirs.lists.vestrel-part"));
  const std::string text = log();
  EXPECT_NE(text.find("[T] [ОШИБКА] Список udirs.lists слишком большой"), std::string::npos)
      << text;
  EXPECT_NE(text.find("BOX Во время работы авто-апдейтера произошла ошибка:\nОшибка: сервер "
                      "прислал недопустимый список файлов."),
            std::string::npos);
  // A refused list is not a server that could not be reached.
  EXPECT_EQ(text.find("Не удалось загрузить репозиторий"), std::string::npos);
}

TEST_F(PrepareDirectoriesTest, FolderThatCannotBeMadeEndsTheRunAndAFileInTheWayIsKept) {
  publishList("udirs.lists", "a/b\n");
  // The chosen folder would lie below a file: nothing can be made.
  test::writeFile(installDir() / "no", "a file");
  prepareEndsTheRun((installDir() / "no" / "such").string() + "/");
  EXPECT_NE(log().find("[T] [ОШИБКА] Не удалось создать папку "), std::string::npos) << log();
  EXPECT_FALSE(std::filesystem::exists(installDir() / "udirs.lists"));
  std::filesystem::remove(installDir() / "no");

  // A file where a listed folder belongs (a release that made a file a folder) is moved
  // aside under a free name, and the folder is made.
  test::writeFile(installDir() / "a", "a file, not a folder");
  test::writeFile(installDir() / "a.old", "an older one");
  startLog();
  ASSERT_TRUE(prepareDirectories(runContext().state, root()));
  EXPECT_TRUE(std::filesystem::is_directory(installDir() / "a" / "b"));
  EXPECT_EQ(test::readFile(installDir() / "a.old-2"), "a file, not a folder");
  EXPECT_EQ(test::readFile(installDir() / "a.old"), "an older one");
  EXPECT_NE(log().find(root() + "a мешает установке и перемещён в " + root() + "a.old-2\n"),
            std::string::npos)
      << log();
}

}  // namespace
}  // namespace vestrel
