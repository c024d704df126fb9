#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>
#include <vector>

#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "tests/LogStress.h"
#include "tests/TestSupport.h"

namespace vestrel {
namespace {

using test::readFile;
using test::withoutStamps;

TEST(Log, ScriptedRunHasTheExactByteLayout) {
  test::RecordingFakes fakes;
  test::TempDir dir;
  logLine("before the folder is known");  // no log yet: nothing may be written anywhere
  logEnd();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "installer.log"));

  logStart(dir.path().string());
  logLine(text::kPathChosen);
  logLine(text::kFileOtherError, "Couldn't connect to server");
  logLine(text::kGeneralHint);
  logLine(text::kChecking, "файл.txt");
  logEnd();

  const std::string expected =
      "[T] Vestrel Installer Log запущен!\n--------------\n\n"
      "[T] [ПРОЦЕСС] Путь выбран.\n"
      "[T] \n[ОШИБКА] Во время загрузки файла произошла неизвестная ошибка (Couldn't connect "
      "to server) (VTNetwork)\n"
      "[T] [^] Попробуйте решить проблему при помощи гайда на форуме - " VESTREL_GENERAL_HELP_LINK
      ".\n\n"
      "[T] [ПРОВЕРКА] файл.txt\n"
      "\n--------------\n[T] Vestrel Installer Log завершил работу!\n";
  EXPECT_EQ(withoutStamps(readFile(dir.path() / "installer.log")), expected);
}

TEST(Log, StampsAreLocalTimeWithoutZeroPadding) {
  test::RecordingFakes fakes;
  test::TempDir dir;
  logStart(dir.path().string());
  logEnd();
  const std::string log = readFile(dir.path() / "installer.log");
  int stamps = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    std::vector<int> f;
    const std::size_t length = test::stampLength(log, i, &f);
    if (length == 0) {
      continue;
    }
    ++stamps;
    EXPECT_GE(f[0], 2000);
    EXPECT_TRUE(f[1] >= 1 && f[1] <= 12 && f[2] >= 1 && f[2] <= 31 && f[3] <= 23 && f[4] <= 59 &&
                f[5] <= 60);
    // No zero padding: a number is written with as few digits as it needs.
    EXPECT_EQ(log.substr(i, length), "[" + std::to_string(f[0]) + "-" + std::to_string(f[1]) + "-" +
                                         std::to_string(f[2]) + "-" + std::to_string(f[3]) + "-" +
                                         std::to_string(f[4]) + "-" + std::to_string(f[5]) + "]");
  }
  EXPECT_EQ(stamps, 2);
}

TEST(Log, StartTruncatesAndUnopenableFileLosesOnlyThatRecord) {
  test::RecordingFakes fakes;
  test::TempDir dir;
  test::writeFile(dir.path() / "installer.log", "old run\n");
  logStart(dir.path().string());
  EXPECT_EQ(readFile(dir.path() / "installer.log").find("old run"), std::string::npos);

  // A folder whose log cannot be opened: the records are lost and nothing is raised; once it
  // can be, the next record opens the file and appends.
  const std::filesystem::path later = dir.path() / "later";
  EXPECT_FALSE(logStart(later.string()));
  logLine(text::kPathChosen);
  std::filesystem::create_directories(later);
  logLine(text::kVerifyFailed);
  EXPECT_EQ(withoutStamps(readFile(later / "installer.log")),
            "[T] [ОШИБКА] Во время проверки файлов произошла ошибка.\n");
  logStart("");
}

TEST(Log, RecordsFromFourThreadsStayWholeAndNoneIsLost) {
  test::RecordingFakes fakes;
  test::TempDir dir;
  logStart(dir.path().string());
  test::checkConcurrentRecords(4, 10000, [&] { return readFile(dir.path() / "installer.log"); });
  logStart("");
}

TEST(FormatText, NeverTruncates) {
  const std::string longArg(100000, 'a');
  std::string buffer = "stale";
  formatText(buffer, "<%s|%d>", longArg.c_str(), 42);
  EXPECT_EQ(buffer, "<" + longArg + "|42>");
  EXPECT_EQ(formatted("%s", ""), "");
  EXPECT_EQ(systemText(text::kFileFailed, "a/b"), "[ОШИБКА] Не удалось загрузить файл (a/b)");
}

}  // namespace
}  // namespace vestrel
