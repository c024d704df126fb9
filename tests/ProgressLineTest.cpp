#include <gtest/gtest.h>

#include "app/ProgressLine.h"

namespace vestrel {
namespace {

TEST(ProgressLine, SaysTheCheckThenTheDownloadInThePlayersUnits) {
  ProgressFigures f{.stage = RunStage::Verifying, .filesToCheck = 20000, .filesChecked = 3120};
  EXPECT_EQ(progressLine(f), "Проверено файлов: 3 120 из 20 000");
  f.filesToCheck = 0;
  EXPECT_EQ(progressLine(f), "");  // the lists are not in yet

  f = {.stage = RunStage::Downloading,
       .bytesToFetch = 886046720,  // 845,0 MiB
       .bytesFetched = 129394278,  // 123,4 MiB
       .bytesPerSecond = 8808038,  // 8,4 MiB
       .secondsLeft = -1};
  EXPECT_EQ(progressLine(f), "Загружено 123,4 МБ из 845,0 МБ · 8,4 МБ/с");
  f.secondsLeft = 100;
  EXPECT_EQ(progressLine(f), "Загружено 123,4 МБ из 845,0 МБ · 8,4 МБ/с · осталось 1 мин 40 с");
  EXPECT_EQ(duration(40), "40 с");
  EXPECT_EQ(duration(7500), "2 ч 5 мин");
  EXPECT_EQ(megabytes(0), "0,0 МБ");
  EXPECT_EQ(megabytes(std::uint64_t{70} << 30), "71680,0 МБ");  // past 4 GiB
  EXPECT_EQ(groupedCount(999), "999");
  EXPECT_EQ(groupedCount(1000000), "1 000 000");
  f.stage = RunStage::Launching;
  EXPECT_EQ(progressLine(f), "");
}

}  // namespace
}  // namespace vestrel
