// Several downloads at once against the loopback servers, with files that fail, are cut off
// or do not match their digests, while the rest go on.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/Texts.h"
#include "tests/ServerFixture.h"
#include "update/PrepareDirectories.h"
#include "update/RunContext.h"
#include "update/VerifyFiles.h"
#include "update/net/DownloadMeter.h"
#include "update/net/ListFetch.h"
#include "update/net/ParallelDownloads.h"

namespace vestrel {
namespace {

using test::md5Of;
using test::occurrences;
using test::readFile;

constexpr const char* kWorkerBox = text::kRepositoryFailedBox;

class ParallelDownloadsTest : public test::ServerFixture {
 protected:
  // Publishes the files and their lists, and fills the queue as a verification pass does.
  void publishAndVerify(const Files& files, const std::string& fault = "") {
    publishListedTree("data\n", files);
    if (!fault.empty()) {
      useFaultServer(fault);
      for (const char* list : {"udirs.lists", "ufile.lists", "uhash.lists"}) {
        for (int i = 0; i < 2; ++i) {
          consumeFault(fault, std::string(".launcher/") + list);
        }
      }
    }
    InstallState& state = runContext().state;
    startLog();
    ASSERT_TRUE(prepareDirectories(state, root()));
    ASSERT_TRUE(verifyFiles(state));
  }

  bool download() { return downloadQueue(runContext().state) == DownloadEnd::Complete; }

  // Waits until the log holds `part` at least `times` times.
  void waitForLog(const std::string& part, std::size_t times = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (occurrences(log(), part) < times && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::string downloaded(const std::string& name) const {
    return "[T] [ЗАГРУЗКА] " + root() + name + "\n";
  }
};

TEST_F(ParallelDownloadsTest, FileThatFailsTwiceHoldsUpNoneOfFiftyOthers) {
  Files files;
  for (int i = 0; i < 51; ++i) {
    files.emplace_back("data/file" + std::to_string(100 + i) + ".bin",
                       std::string(3000 + i, static_cast<char>('a' + i % 26)));
  }
  publishAndVerify(files, "drop2");
  // Every file but the first fails twice; the others have their faults used up already.
  for (std::size_t i = 1; i < files.size(); ++i) {
    consumeFault("drop2", files[i].first);
    consumeFault("drop2", files[i].first);
  }
  ASSERT_TRUE(download());

  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(readFile(installDir() / name), bytes) << name;
  }
  EXPECT_EQ(runContext().state.pendingCount, 0);
  // Two attempts failed alike: the first one's box, then the worker's, and no more.
  const auto boxes = fakes_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, kWorkerBox);
  EXPECT_EQ(faultRequests("drop2", files[0].first), 3);
  const std::string text = log();
  EXPECT_EQ(occurrences(text, "[ОШИБКА] Не удалось загрузить файл (" + root() + files[0].first),
            2u);
  // The others did not wait for it: all of them arrived before it did.
  const auto failingArrived = text.find(downloaded(files[0].first));
  ASSERT_NE(failingArrived, std::string::npos) << text;
  for (std::size_t i = 1; i < files.size(); ++i) {
    const auto arrived = text.find(downloaded(files[i].first));
    ASSERT_NE(arrived, std::string::npos) << files[i].first;
    EXPECT_LT(arrived, failingArrived) << files[i].first;
  }
}

TEST_F(ParallelDownloadsTest, BodiesCutMidwayOnThreeFilesAtOnceAreFetchedAgain) {
  Files files;
  for (int i = 0; i < 3; ++i) {
    std::string body(1 << 20, '\0');
    for (std::size_t b = 0; b < body.size(); ++b) {
      body[b] = static_cast<char>(b * (7 + i) + (b >> 11));
    }
    files.emplace_back("data/part" + std::to_string(i) + ".bin", body);
  }
  publishAndVerify(files, "truncate");
  ASSERT_TRUE(download());
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(readFile(installDir() / name), bytes) << name;
    EXPECT_EQ(faultRequests("truncate", name), 2) << name;
    EXPECT_EQ(occurrences(log(), "Не удалось загрузить файл (" + root() + name + ")"), 1u);
  }
  EXPECT_EQ(fakes_.boxes().size(), 2u);
}

TEST_F(ParallelDownloadsTest, BodiesThatMatchNoDigestAreRefusedUntilTheServerIsRight) {
  const Files files = {
      {"data/a.bin", "right a"}, {"data/b.bin", "right b"}, {"data/c.bin", "right c"}};
  publishAndVerify(files);
  publishFile("data/a.bin", "wrong a");
  publishFile("data/b.bin", "wrong b");
  bool done = false;
  std::thread downloading([&] { done = download(); });
  // Once each wrong body has been refused, the server is put right.
  waitForLog("Загруженный файл " + root() + "data/a.bin");
  waitForLog("Загруженный файл " + root() + "data/b.bin");
  publishFile("data/a.bin", "right a");
  publishFile("data/b.bin", "right b");
  downloading.join();
  ASSERT_TRUE(done);
  const std::string text = log();
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(readFile(installDir() / name), bytes) << name;
    // Each refused body is reported once: its mismatch line, then the worker's line.
    const std::size_t mismatches = occurrences(text, "Загруженный файл " + root() + name);
    EXPECT_EQ(mismatches, occurrences(text, "Не удалось загрузить файл (" + root() + name + ")"));
    EXPECT_EQ(mismatches == 0, name == "data/c.bin") << text;
  }
  for (const auto& box : fakes_.boxes()) {
    EXPECT_EQ(box.text, kWorkerBox);  // a mismatch has no box of the fetcher's own
  }
}

// Over HTTP/2, to a server that ends each connection after a few requests and allows only a
// few streams on one: more files are asked for than it allows at once, and the ends of its
// connections cost reconnects, never a failed file or a box.
TEST_F(ParallelDownloadsTest, ServerThatEndsConnectionsAndLimitsStreamsCostsNoFile) {
  Files files;
  for (int i = 0; i < 60; ++i) {
    files.emplace_back("data/s" + std::to_string(i) + ".bin",
                       std::string(5000 + i * 100, static_cast<char>('A' + i % 26)));
  }
  publishListedTree("data\n", files);
  useBriefServer();
  InstallState& state = runContext().state;
  startLog();
  ASSERT_TRUE(prepareDirectories(state, root()));
  ASSERT_TRUE(verifyFiles(state));
  EXPECT_TRUE(runContext().net.connection.multiplexes());
  ASSERT_TRUE(download());

  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(readFile(installDir() / name), bytes) << name;
  }
  EXPECT_EQ(state.pendingCount, 0);
  EXPECT_TRUE(fakes_.boxes().empty());
  EXPECT_EQ(log().find("[ОШИБКА]"), std::string::npos) << log();
}

// The bar and the line above it: bytes of a total where unknown lengths count at the average,
// never full early, and a speed of the last seconds with a time left only once it means much.
TEST(DownloadProgress, CountsBytesAndSaysSpeedAndTimeLeftOnlyOnceKnown) {
  EXPECT_EQ(expectedBytes(0, 0, 5), 0u);                  // nothing known yet
  EXPECT_EQ(expectedBytes(300, 3, 2), 500u);              // two more at the average of 100
  EXPECT_EQ(downloadProgressPermille(0, 0, true), 1000);  // nothing to fetch: done
  EXPECT_EQ(downloadProgressPermille(0, 0, false), 0);
  EXPECT_EQ(downloadProgressPermille(1000, 250, false), 250);
  EXPECT_EQ(downloadProgressPermille(1000, 1000, false), 999);  // in, but not yet checked
  EXPECT_EQ(downloadProgressPermille(1000, 5000, false), 999);

  using std::chrono::milliseconds;
  SpeedMeter meter;
  const SpeedMeter::Clock::time_point start{};
  meter.sample(0, start + milliseconds(1));
  EXPECT_EQ(meter.secondsLeft(100), -1);
  for (int tenth = 1; tenth <= 80; ++tenth) {  // 1 MB/s for 4 s, then 3 MB/s
    const std::uint64_t mb = 1000000;
    const std::uint64_t fetched =
        tenth <= 40 ? tenth * mb / 10 : 4 * mb + (tenth - 40) * 3 * mb / 10;
    meter.sample(fetched, start + milliseconds(1 + tenth * 100));
    if (tenth == 15) {
      EXPECT_EQ(meter.bytesPerSecond(), mb);
      EXPECT_EQ(meter.secondsLeft(mb), -1);  // under 2 s of data
    }
    if (tenth == 30) {
      EXPECT_EQ(meter.secondsLeft(10 * mb), 10);
    }
  }
  // The last 5 s only: 1 s at 1 MB/s and 4 s at 3 MB/s.
  EXPECT_EQ(meter.bytesPerSecond(), 2600000u);
  meter.sample(0, start + milliseconds(9000));  // an attempt's bytes given back
  EXPECT_EQ(meter.bytesPerSecond(), 0u);
  EXPECT_EQ(meter.secondsLeft(1), -1);
}

}  // namespace
}  // namespace vestrel
