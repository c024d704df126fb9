#include <gtest/gtest.h>

#include "support/ErrorReport.h"
#include "support/Log.h"
#include "tests/ServerFixture.h"
#include "update/InstallState.h"
#include "update/PrepareDirectories.h"

namespace vestrel {
namespace {

class PrepareDirectoriesTest : public test::ServerFixture {
 protected:
  // Prepares `folder` in a child process, which must end the run with status 0.
  void prepareEndsTheRun(const std::string& folder) {
    EXPECT_EXIT(
        {
          setErrorBoxSink(&test::boxIntoLog);
          startLog();
          prepareDirectories(installState(), folder);
        },
        ::testing::ExitedWithCode(0), "");
  }
};

TEST_F(PrepareDirectoriesTest, CreatesTheRootAndEveryListedFolder) {
  const std::filesystem::path fresh = installDir() / "Игры";  // missing: made, one level
  publishList("udirs.lists", "a\nb/c/d\r\n\ne//f\nb/c\n");
  ASSERT_TRUE(prepareDirectories(installState(), fresh.string() + "/"));
  EXPECT_STREQ(installState().installRoot, (fresh.string() + "/").c_str());
  EXPECT_EQ(installState().launcherPath, fresh.string() + "/");
  for (const char* folder : {"a", "b/c/d", "e/f"}) {
    EXPECT_TRUE(std::filesystem::is_directory(fresh / folder)) << folder;
  }
  EXPECT_TRUE(std::filesystem::exists(fresh / "udirs.lists"));

  // Running again over existing folders is no error.
  ASSERT_TRUE(prepareDirectories(installState(), fresh.string() + "/"));
}

TEST_F(PrepareDirectoriesTest, FailedListFetchEndsTheRunAfterBothBoxes) {
  prepareEndsTheRun(root());
  const std::string text = log();
  const auto fetcherBox = text.find("BOX Во время работы авто-апдейтера произошла неизвестная");
  const auto ownBox = text.find("BOX Не удалось загрузить репозиторий.");
  const auto line = text.find("[T] [ОШИБКА] Не удалось загрузить список директорий для создания.");
  const auto banner = text.find("Vestrel Installer Log завершил работу!");
  ASSERT_NE(fetcherBox, std::string::npos) << text;
  EXPECT_LT(fetcherBox, ownBox);
  EXPECT_LT(ownBox, line);
  EXPECT_LT(line, banner);
  EXPECT_NE(banner, std::string::npos);
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
  EXPECT_NE(text.find("завершил работу!"), std::string::npos);
}

TEST_F(PrepareDirectoriesTest, OversizedListIsRefusedWithoutTheFetchFailureBox) {
  publishList("udirs.lists", "a\n" + std::string(2 << 20, 'x'));
  prepareEndsTheRun(root());
  EXPECT_FALSE(std::filesystem::exists(installDir() / "a"));
  EXPECT_LT(std::filesystem::file_size(installDir() / "udirs.lists"), 2u << 20);
  const std::string text = log();
  EXPECT_NE(text.find("[T] [ОШИБКА] Список udirs.lists слишком большой"), std::string::npos)
      << text;
  EXPECT_NE(text.find("BOX Во время работы авто-апдейтера произошла ошибка:\nОшибка: сервер "
                      "прислал недопустимый список файлов."),
            std::string::npos);
  // A refused list is not a server that could not be reached.
  EXPECT_EQ(text.find("Не удалось загрузить репозиторий"), std::string::npos);
  EXPECT_NE(text.find("завершил работу!"), std::string::npos);
}

TEST_F(PrepareDirectoriesTest, FolderThatCannotBeMadeEndsTheRunAndAFileInTheWayIsKept) {
  publishList("udirs.lists", "a/b\n");
  // The chosen folder's parent is missing: nothing can be made.
  prepareEndsTheRun((installDir() / "no" / "such").string() + "/");
  EXPECT_NE(log().find("[T] [ОШИБКА] Не удалось создать папку "), std::string::npos) << log();
  EXPECT_NE(log().find("завершил работу!"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(installDir() / "no"));

  // A file where a listed folder belongs (a release that made a file a folder) is moved
  // aside under a free name, and the folder is made.
  test::writeFile(installDir() / "a", "a file, not a folder");
  test::writeFile(installDir() / "a.old", "an older one");
  startLog();
  ASSERT_TRUE(prepareDirectories(installState(), root()));
  EXPECT_TRUE(std::filesystem::is_directory(installDir() / "a" / "b"));
  EXPECT_EQ(test::readFile(installDir() / "a.old-2"), "a file, not a folder");
  EXPECT_EQ(test::readFile(installDir() / "a.old"), "an older one");
  EXPECT_NE(log().find(root() + "a мешает установке и перемещён в " + root() + "a.old-2\n"),
            std::string::npos)
      << log();
}

}  // namespace
}  // namespace vestrel
