// A run on its own thread, from the folder to the launch, against the loopback servers: what
// it fetches, how it fails and retries, and how soon it stops when the window closes.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "support/BoxGate.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "tests/ServerFixture.h"
#include "update/PrepareDirectories.h"
#include "update/RunContext.h"
#include "update/VerifyFiles.h"
#include "update/net/ParallelDownloads.h"

namespace vestrel {
namespace {

using Clock = std::chrono::steady_clock;
using test::md5Of;
using test::occurrences;
using test::readFile;
using test::writeFile;

class RunTest : public test::ServerFixture {
 protected:
  // A small server tree: folders, files, lists.
  void publishTree() {
    files_ = {{"readme.txt", "hello\n"},
              {"bin/tool.dll", std::string(200000, 'T')},
              {"data/levels/one.map", "level one"},
              {"data/levels/two.map", "level two"},
              {"launcher.exe", "fresh launcher"}};
    publishListedTree("bin\ndata/levels\n", files_);
  }

  // Starts the run on the install folder; `launched` is set when it reaches the launch.
  void startRun() {
    InstallState& state = runContext().state;
    state.installFolder = root();
    startLog();
    ASSERT_TRUE(runContext().run.start(runContext(), [this](RunContext& context) {
      launchStage_ = context.state.stage;
      launched_.set_value();
    }));
  }

  // Waits until the run has ended, whichever way.
  void waitForEnd() const {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (runContext().state.stage != RunStage::Ended && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(runContext().state.stage, RunStage::Ended) << log();
  }

  Files files_;
  std::promise<void> launched_;
  RunStage launchStage_ = RunStage::Choosing;
};

TEST_F(RunTest, RunFetchesExactlyWhatIsNeededThenLaunchesAndEndsTheLog) {
  publishTree();
  writeFile(installDir() / "readme.txt", "hello\n");                 // up to date
  writeFile(installDir() / "data" / "levels" / "one.map", "stale");  // wrong: replaced
  writeFile(installDir() / "launcher.exe", "running launcher");      // wrong: kept
  writeFile(installDir() / "saves" / "slot1.sav", "player data");    // unlisted
  const auto untouchedTime = std::filesystem::last_write_time(installDir() / "readme.txt");

  startRun();
  ASSERT_EQ(launched_.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready)
      << log();
  waitForEnd();
  const InstallState& state = runContext().state;
  EXPECT_EQ(launchStage_, RunStage::Launching);
  EXPECT_EQ(state.pendingCount, 0);
  for (const std::string& slot : state.fileQueue) {
    ASSERT_EQ(slot, "");
  }
  EXPECT_EQ(readFile(installDir() / "bin" / "tool.dll"), std::string(200000, 'T'));
  EXPECT_EQ(readFile(installDir() / "data" / "levels" / "one.map"), "level one");
  EXPECT_EQ(readFile(installDir() / "launcher.exe"), "running launcher");
  EXPECT_EQ(readFile(installDir() / "launcher_new.exe"), "fresh launcher");
  EXPECT_EQ(readFile(installDir() / "saves" / "slot1.sav"), "player data");
  EXPECT_EQ(std::filesystem::last_write_time(installDir() / "readme.txt"), untouchedTime);

  // Each needed file arrives once (in parallel, so in no fixed order); nothing else does.
  const std::string text = log();
  for (const char* name :
       {"launcher.exe", "data/levels/two.map", "data/levels/one.map", "bin/tool.dll"}) {
    EXPECT_EQ(occurrences(text, "[T] [ЗАГРУЗКА] " + root() + name + "\n"), 1u) << name << text;
  }
  EXPECT_EQ(occurrences(text, "[ЗАГРУЗКА] " + root() + "readme.txt"), 0u);
  EXPECT_EQ(state.downloadProgress, 1000);
  EXPECT_NE(text.find("[T] [ПРОВЕРКА] slot1.sav\n"), std::string::npos);
  // The run's thread writes the end banner, last.
  EXPECT_TRUE(text.ends_with("\n--------------\n[T] Vestrel Installer Log завершил работу!\n"));
  EXPECT_TRUE(fakes_.events().empty());
}

TEST_F(RunTest, FailedVerificationEndsTheRunWithoutTheLaunch) {
  publishList("udirs.lists", "");
  publishList("ufile.lists", "a\n");  // uhash.lists is missing: the pass fails
  runContext().boxes.setSink(&test::boxIntoLog);
  startRun();
  waitForEnd();
  const std::string text = log();
  const auto line = text.find("[T] [ОШИБКА] Во время проверки файлов произошла ошибка.\n");
  ASSERT_NE(line, std::string::npos) << text;
  EXPECT_LT(line, text.find("Vestrel Installer Log завершил работу!"));
  EXPECT_EQ(launched_.get_future().wait_for(std::chrono::seconds(0)), std::future_status::timeout);
}

TEST_F(RunTest, FailedDownloadsAreBoxedOnceAndRetried) {
  publishTree();
  useFaultServer("drop");
  // Only the listed files fail once; the lists arrive at the first try.
  for (const char* list : {"udirs.lists", "ufile.lists", "uhash.lists"}) {
    consumeFault("drop", std::string(".launcher/") + list);
  }
  InstallState& state = runContext().state;
  startLog();
  state.installFolder = root();
  ASSERT_TRUE(moveToStage(state.stage, RunStage::Preparing));
  ASSERT_TRUE(updateInstall(runContext()));
  for (const auto& [name, bytes] : files_) {
    const std::string local = name == "launcher.exe" ? "launcher_new.exe" : name;
    EXPECT_EQ(readFile(installDir() / local), bytes) << name;
  }
  // Every file failed once, alike: one fetcher's box, then the download's own, once.
  const auto boxes = fakes_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_NE(boxes[0].text.find("неизвестная ошибка"), std::string::npos);
  EXPECT_EQ(boxes[1].text, text::kRepositoryFailedBox);
  EXPECT_NE(log().find("[T] [ОШИБКА] Не удалось загрузить файл (" + root() + "readme.txt)\n"),
            std::string::npos);
}

TEST_F(RunTest, PersistentFailureWaitsWithinAGrowingBackOffUntilTheRunStops) {
  publishList("udirs.lists", "");
  publishList("ufile.lists", "gone.bin\n");  // listed, but the server answers 404 for ever
  publishList("uhash.lists", md5Of("gone") + "\n");
  InstallState& state = runContext().state;
  startLog();
  ASSERT_TRUE(prepareDirectories(state, root()));
  ASSERT_TRUE(verifyFiles(state));
  DownloadEnd end = DownloadEnd::Complete;
  std::thread downloading([&] { end = downloadQueue(state); });

  // When each of the first three attempts shows in the log.
  const std::string failed = "Не удалось загрузить файл (" + root() + "gone.bin)";
  std::vector<Clock::time_point> attempts;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (attempts.size() < 3 && Clock::now() < deadline) {
    if (occurrences(log(), failed) > attempts.size()) {
      attempts.push_back(Clock::now());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  runContext().run.requestStop();
  downloading.join();
  ASSERT_EQ(attempts.size(), 3u) << log();
  // Pauses drawn within 1 s, then within 2 s (the log is looked at every few milliseconds).
  EXPECT_LE(attempts[1] - attempts[0], std::chrono::milliseconds(1300));
  EXPECT_LE(attempts[2] - attempts[1], std::chrono::milliseconds(2300));
  EXPECT_EQ(end, DownloadEnd::Stopped);
  EXPECT_EQ(state.pendingCount, 1);
  EXPECT_EQ(fakes_.boxes().size(), 2u);  // the first attempt's box and the download's
  EXPECT_EQ(fakes_.links().size(), 1u);
  EXPECT_EQ(occurrences(log(), "HTTP 404"), 3u) << log();  // the report names the answer
}

// A listening socket that accepts connections and never answers: a transfer to it stalls.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() {
    if (client_ >= 0) {
      ::close(client_);
    }
    ::close(fd_);
  }
  int port() const { return port_; }
  // Waits for the first connection and keeps it open, in silence.
  void acceptOne() { client_ = ::accept(fd_, nullptr, nullptr); }

 private:
  int fd_ = -1;
  int client_ = -1;
  int port_ = 0;
};

TEST_F(RunTest, RunStuckOnAServerThatNeverAnswersStopsAtOnce) {
  SilentServer server;
  runContext().net.fileServer = "https://127.0.0.1:" + std::to_string(server.port()) + "/launcher";
  startRun();
  server.acceptOne();  // the run's first transfer is now waiting for an answer
  EXPECT_EQ(runContext().state.stage, RunStage::Preparing);
  EXPECT_TRUE(runContext().run.stop(std::chrono::seconds(1)));
  EXPECT_EQ(runContext().state.stage, RunStage::Ended);
  // A stop is no failure: nothing is reported, and the log ends as after any run.
  const std::string text = log();
  EXPECT_EQ(text.find("[ОШИБКА]"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("Vestrel Installer Log завершил работу!\n")) << text;
  EXPECT_TRUE(fakes_.events().empty());
}

// The run may end the gate at any moment after an offer, before or after the gate's thread
// took it: the gate always comes down, and offers no box after.
TEST(BoxGateEnd, RightAfterAnOfferLeavesTheGateDown) {
  for (int i = 0; i < 200; ++i) {
    ErrorBoxes boxes;
    boxes.setSink([](const std::string&, const std::string&) {});
    BoxGate gate(boxes);
    EXPECT_TRUE(gate.offer(BoxKind::Status, "first"));
    gate.end();
    gate.waitIdle();  // would wait forever on a gate left up
    EXPECT_FALSE(gate.offer(BoxKind::Connection, "second"));
  }
}

TEST(RunStage, OnlyTheStepsOfTheTableAreTaken) {
  const RunStage order[] = {RunStage::Choosing,    RunStage::Preparing, RunStage::Verifying,
                            RunStage::Downloading, RunStage::Launching, RunStage::Ended};
  for (std::size_t from = 0; from < 6; ++from) {
    for (std::size_t to = 0; to < 6; ++to) {
      // Each stage leads to the next, and every stage but the last may end the run.
      const bool allowed = to == from + 1 || (to == 5 && from < 5);
      std::atomic<RunStage> stage{order[from]};
      EXPECT_EQ(moveToStage(stage, order[to]), allowed) << from << " -> " << to;
      EXPECT_EQ(stage.load(), allowed ? order[to] : order[from]);
    }
  }
}

}  // namespace
}  // namespace vestrel
