#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "tests/ServerFixture.h"
#include "update/InstallState.h"
#include "update/PrepareDirectories.h"
#include "update/VerifyFiles.h"
#include "update/Workers.h"
#include "update/digest/Md5.h"

namespace vestrel {
namespace {

using test::md5Of;
using test::readFile;
using test::writeFile;

// Runs the frame protocol the way the screen does, one call per frame, until it switches to
// launch. Returns the number of frames it took.
int runUntilLaunch(InstallState& state, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int frames = 0;
  while (state.screenMode != kScreenLaunch && std::chrono::steady_clock::now() < deadline) {
    runFrameProtocol(state);
    ++frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return frames;
}

class WorkersTest : public test::ServerFixture {
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

  Files files_;
};

TEST_F(WorkersTest, EngineEndsInDoneWithExactlyTheNeededDownloads) {
  publishTree();
  writeFile(installDir() / "readme.txt", "hello\n");                 // up to date
  writeFile(installDir() / "data" / "levels" / "one.map", "stale");  // wrong: replaced
  writeFile(installDir() / "launcher.exe", "running launcher");      // wrong: kept
  writeFile(installDir() / "saves" / "slot1.sav", "player data");    // unlisted
  const auto untouchedTime = std::filesystem::last_write_time(installDir() / "readme.txt");

  InstallState& state = installState();
  state.screenMode = kScreenUpdate;
  startLog();
  prepareDirectories(state, root());
  const int frames = runUntilLaunch(state, std::chrono::seconds(60));
  ASSERT_EQ(state.screenMode, kScreenLaunch) << log();
  EXPECT_GE(frames, 3);

  EXPECT_EQ(state.downloadDone, 1);
  EXPECT_EQ(state.busy, 0);
  EXPECT_EQ(state.pendingCount, 0);
  for (const std::string& slot : state.fileQueue) {
    ASSERT_EQ(slot, "");
  }
  EXPECT_EQ(readFile(installDir() / "bin" / "tool.dll"), std::string(200000, 'T'));
  EXPECT_EQ(readFile(installDir() / "data" / "levels" / "one.map"), "level one");
  EXPECT_EQ(readFile(installDir() / "data" / "levels" / "two.map"), "level two");
  EXPECT_EQ(readFile(installDir() / "launcher.exe"), "running launcher");
  EXPECT_EQ(readFile(installDir() / "launcher_new.exe"), "fresh launcher");
  EXPECT_EQ(readFile(installDir() / "saves" / "slot1.sav"), "player data");
  EXPECT_EQ(std::filesystem::last_write_time(installDir() / "readme.txt"), untouchedTime);

  // Each needed file arrives once (in parallel, so in no fixed order); nothing else does.
  const std::string text = log();
  const auto count = [&](const std::string& name) {
    const std::string line = "[T] [ЗАГРУЗКА] " + root() + name + "\n";
    std::size_t n = 0;
    for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
      ++n;
    }
    return n;
  };
  for (const char* name :
       {"launcher.exe", "data/levels/two.map", "data/levels/one.map", "bin/tool.dll"}) {
    EXPECT_EQ(count(name), 1u) << name << "\n" << text;
  }
  EXPECT_EQ(count("readme.txt"), 0u);
  EXPECT_EQ(state.downloadProgress, 1000);
  EXPECT_NE(text.find("[T] [ПРОВЕРКА] slot1.sav\n"), std::string::npos);
  EXPECT_TRUE(fakes_.events().empty());
}

TEST_F(WorkersTest, NothingToDownloadStillGoesThroughDone) {
  publishList("udirs.lists", "");
  publishList("ufile.lists", "");
  publishList("uhash.lists", "");
  InstallState& state = installState();
  state.screenMode = kScreenInstall;
  prepareDirectories(state, root());
  runUntilLaunch(state, std::chrono::seconds(30));
  EXPECT_EQ(state.screenMode, kScreenLaunch);
  EXPECT_EQ(state.downloadDone, 1);
}

TEST_F(WorkersTest, FailedDownloadsAreBoxedOnceAndRetried) {
  publishTree();
  useFaultServer("drop");
  // Only the listed files fail once; the lists arrive at the first try.
  for (const char* list : {"udirs.lists", "ufile.lists", "uhash.lists"}) {
    consumeFault("drop", std::string(".launcher/") + list);
  }
  InstallState& state = installState();
  state.screenMode = kScreenUpdate;
  startLog();
  prepareDirectories(state, root());
  runUntilLaunch(state, std::chrono::seconds(60));
  ASSERT_EQ(state.screenMode, kScreenLaunch);
  for (const auto& [name, bytes] : files_) {
    const std::string local = name == "launcher.exe" ? "launcher_new.exe" : name;
    EXPECT_EQ(readFile(installDir() / local), bytes) << name;
  }
  // Every file failed once, alike: one fetcher's box, then the worker's own, once.
  const auto boxes = fakes_.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_NE(boxes[0].text.find("неизвестная ошибка"), std::string::npos);
  EXPECT_EQ(boxes[1].text, text::kRepositoryFailedBox);
  EXPECT_NE(log().find("[T] [ОШИБКА] Не удалось загрузить файл (" + root() + "readme.txt)\n"),
            std::string::npos);
}

// A download worker with nothing to fetch may finish before the frame that started it has
// gone on; its "done" must still be seen. Run inline, it always finishes first.
TEST(FrameProtocol, WorkerThatFinishesAtOnceIsNotOverwritten) {
  test::RecordingFakes fakes;
  InstallState& state = installState();
  setWorkerStarter([](void (*worker)(InstallState&), InstallState& started) { worker(started); });
  state.screenMode = kScreenUpdate;
  state.busy = 1;
  state.verified.store(true, std::memory_order_release);  // an empty queue, verified
  runFrameProtocol(state);  // starts the download worker, which finishes at once
  EXPECT_EQ(state.downloadDone, 1);
  EXPECT_EQ(state.busy, 0);
  runFrameProtocol(state);
  setWorkerStarter(nullptr);
  EXPECT_EQ(state.screenMode, kScreenLaunch);
}

TEST_F(WorkersTest, PersistentFailureWaitsLongerEachTimeAndOpensTheHelpLinkOnce) {
  publishList("udirs.lists", "");
  publishList("ufile.lists", "gone.bin\n");  // listed, but the server answers 404 for ever
  publishList("uhash.lists", md5Of("gone") + "\n");
  InstallState& state = installState();
  startLog();
  prepareDirectories(state, root());
  ASSERT_TRUE(verifyFiles(state));
  state.busy = 1;
  // The boxes return at once here, as they do when there is no display to show them on.
  std::thread worker(downloadWorker, std::ref(state));
  std::this_thread::sleep_for(std::chrono::milliseconds(4500));
  state.downloadStop.request_stop();  // the worker stops waiting
  worker.join();

  // An attempt at once, then after pauses of 1 s and 2 s: three attempts in 4.5 s.
  std::size_t attempts = 0;
  const std::string failed = "Не удалось загрузить файл (" + root() + "gone.bin)";
  for (std::size_t at = log().find(failed); at != std::string::npos;
       at = log().find(failed, at + 1)) {
    ++attempts;
  }
  EXPECT_GE(attempts, 2u);
  EXPECT_LE(attempts, 3u);
  EXPECT_EQ(fakes_.boxes().size(), 2u);  // the first attempt's box and the worker's
  EXPECT_EQ(fakes_.links().size(), 1u);
  EXPECT_EQ(state.downloadDone, 0);
}

TEST_F(WorkersTest, DownloadThatMatchesNoDigestIsRetriedUntilItDoes) {
  publishList("udirs.lists", "");
  publishList("ufile.lists", "tool.dll\n");
  publishList("uhash.lists", md5Of("the real tool") + "\n");
  publishFile("tool.dll", "a tampered tool");
  InstallState& state = installState();
  state.screenMode = kScreenUpdate;
  startLog();
  prepareDirectories(state, root());
  std::thread fix([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    publishFile("tool.dll", "the real tool");
  });
  runUntilLaunch(state, std::chrono::seconds(60));
  fix.join();
  ASSERT_EQ(state.screenMode, kScreenLaunch);
  EXPECT_EQ(readFile(installDir() / "tool.dll"), "the real tool");
  // Each refused body takes the worker's failure path: its line, and the worker's box once.
  const auto boxes = fakes_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, text::kRepositoryFailedBox);
  }
  const std::string text = log();
  EXPECT_NE(text.find("[T] [ОШИБКА] Загруженный файл " + root() +
                      "tool.dll не совпадает ни с одной контрольной суммой\n[T] [ОШИБКА] Не "
                      "удалось загрузить файл (" +
                      root() + "tool.dll)\n"),
            std::string::npos)
      << text;
}

TEST_F(WorkersTest, FailedVerificationEndsTheProcessFromTheWorker) {
  publishList("udirs.lists", "");
  publishList("ufile.lists", "a\n");  // uhash.lists is missing: the pass fails
  const std::string folder = root();
  EXPECT_EXIT(
      {
        setErrorBoxSink([](const std::string&, const std::string&) {});
        InstallState& state = installState();
        startLog();
        prepareDirectories(state, folder);
        runUntilLaunch(state, std::chrono::seconds(30));
        std::_Exit(7);  // not reached: the worker ends the process
      },
      ::testing::ExitedWithCode(0), "");
  const std::string text = log();
  const auto line = text.find("[T] [ОШИБКА] Во время проверки файлов произошла ошибка.\n");
  ASSERT_NE(line, std::string::npos) << text;
  EXPECT_LT(line, text.find("Vestrel Installer Log завершил работу!"));
}

}  // namespace
}  // namespace vestrel
