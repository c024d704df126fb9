#include <gtest/gtest.h>

#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "tests/TestSupport.h"
#include "update/RunContext.h"

namespace vestrel {
namespace {

// In these tests the error box writes itself into the log, so the order of box and log
// lines can be read back.
void boxIntoLog(const std::string& title, const std::string& text) {
  logMessage("BOX " + title + ": " + text);
}

class FatalReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runContext().boxes.setSink(&boxIntoLog);
    logStart(dir_.path().string());
  }
  std::string log() const {
    return test::withoutStamps(test::readFile(dir_.path() / "installer.log"));
  }

  test::TempDir dir_;
};

TEST_F(FatalReportTest, BoxFirstReportThenTheEndBannerIsTheLastRecord) {
  fatalReport(ReportOrder::BoxFirst, {systemText(text::kDirListFailed)},
              systemText(text::kRepositoryFailedBox));
  logEnd();
  logLine("after the end");  // a thread still busy when the run ended writes nothing more
  logEnd();
  EXPECT_EQ(log(),
            "[T] Vestrel Installer Log запущен!\n--------------\n\n"
            "[T] BOX Ошибка: Не удалось загрузить репозиторий.\nВозможно сервер на тех. "
            "работах или перегружен. Попробуйте позже.\n"
            "[T] [ОШИБКА] Не удалось загрузить список директорий для создания.\n"
            "\n--------------\n[T] Vestrel Installer Log завершил работу!\n");
}

TEST_F(FatalReportTest, LogFirstReportAndNoBoxWhenTextIsEmpty) {
  fatalReport(ReportOrder::LogFirst, {"first", "second"}, "box");
  EXPECT_NE(log().find("[T] first\n[T] second\n[T] BOX Ошибка: box\n"), std::string::npos);

  logStart(dir_.path().string());
  fatalReport(ReportOrder::LogFirst, {systemText(text::kVerifyFailed)}, "");
  EXPECT_EQ(log().find("BOX"), std::string::npos);
}

TEST_F(FatalReportTest, BoxesEndedAreNeitherShownNorWaitedFor) {
  runContext().boxes.end();
  fatalReport(ReportOrder::BoxFirst, {"after the window closed"}, "box");
  EXPECT_EQ(log().find("BOX"), std::string::npos);
  EXPECT_NE(log().find("[T] after the window closed\n"), std::string::npos);
}

}  // namespace
}  // namespace vestrel
