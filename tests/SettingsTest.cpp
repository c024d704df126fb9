#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Platform.h"
#include "platform/posix/SettingsFile.h"
#include "support/ErrorReport.h"
#include "support/Settings.h"
#include "tests/TestSupport.h"
#include "update/RunContext.h"

namespace vestrel {
namespace {

// Points the per-user settings location at a temporary folder for one test.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    old_ = hadOld_ ? old : "";
    ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
  }
  std::filesystem::path store() const { return config_.path() / "Vestrel" / "launcherPath"; }

  test::RecordingFakes fakes_;
  test::TempDir config_;
  bool hadOld_ = false;
  std::string old_;
};

TEST_F(SettingsTest, MissingStoreIsCreatedEmptyAndMeansFirstRun) {
  InstallState& state = runContext().state;
  loadLauncherPath(state);
  EXPECT_FALSE(state.pathKnown);
  EXPECT_EQ(state.launcherPath, "");
  ASSERT_TRUE(std::filesystem::exists(store()));
  EXPECT_EQ(test::readFile(store()), "");
  loadLauncherPath(state);  // an empty value is no folder either
  EXPECT_FALSE(state.pathKnown);
}

TEST_F(SettingsTest, CyrillicFolderSurvivesRoundTripByteForByte) {
  InstallState& state = runContext().state;
  state.launcherPath = "/home/игрок/Игры/Лаунчер/";
  saveLauncherPath(state);
  EXPECT_EQ(test::readFile(store()), "/home/игрок/Игры/Лаунчер/");  // no newline added

  loadLauncherPath(state);
  EXPECT_TRUE(state.pathKnown);
  EXPECT_EQ(state.launcherPath, "/home/игрок/Игры/Лаунчер/");
}

TEST_F(SettingsTest, EmptyPathNeverErasesAStoredFolderButForgettingItDoes) {
  InstallState& state = runContext().state;
  state.launcherPath = "/games/vestrel/";
  saveLauncherPath(state);
  state.launcherPath.clear();
  saveLauncherPath(state);
  EXPECT_EQ(test::readFile(store()), "/games/vestrel/");

  loadLauncherPath(state);
  forgetLauncherPath(state);
  EXPECT_FALSE(state.pathKnown);
  saveLauncherPath(state);  // the shutdown's save cannot bring it back
  loadLauncherPath(state);
  EXPECT_FALSE(state.pathKnown);
  EXPECT_EQ(test::readFile(store()), "");
}

TEST_F(SettingsTest, OversizedOrUnreadableValueCountsAsNoFolder) {
  InstallState& state = runContext().state;
  test::writeFile(store(), "/" + std::string(257, 'a') + "/");  // 259 bytes: still fits
  loadLauncherPath(state);
  EXPECT_TRUE(state.pathKnown);
  test::writeFile(store(), "/" + std::string(258, 'a'));  // 259 bytes, 260 with its '/'
  loadLauncherPath(state);
  EXPECT_FALSE(state.pathKnown);

  test::writeFile(store(), "/" + std::string(259, 'a'));  // 260 bytes: refused, not cut
  loadLauncherPath(state);
  EXPECT_FALSE(state.pathKnown);
  EXPECT_EQ(state.launcherPath, "");

  test::writeFile(store(), std::string("/a\0b/", 5));
  loadLauncherPath(state);
  EXPECT_FALSE(state.pathKnown);

  std::filesystem::remove(store());
  std::filesystem::create_directories(store());  // a folder where the value should be
  loadLauncherPath(state);
  EXPECT_FALSE(state.pathKnown);
}

TEST_F(SettingsTest, RelativeValueIsNoFolderAndAMissingFinalSlashIsAdded) {
  InstallState& state = runContext().state;
  for (const char* relative : {"install", "./install/", "games/vestrel/", "~/games/"}) {
    test::writeFile(store(), relative);
    loadLauncherPath(state);
    EXPECT_FALSE(state.pathKnown) << relative;
    EXPECT_EQ(state.launcherPath, "");
  }
  // Without its '/', every file would be written beside the folder ("/games/installx").
  test::writeFile(store(), "/games/install");
  loadLauncherPath(state);
  EXPECT_TRUE(state.pathKnown);
  EXPECT_EQ(state.launcherPath, "/games/install/");
}

TEST_F(SettingsTest, OnlyOneInstallerHoldsTheLockAtATime) {
  EXPECT_EQ(platform::acquireInstanceLock(), platform::InstanceLock::Acquired);
  EXPECT_TRUE(std::filesystem::exists(config_.path() / "Vestrel" / "installer.lock"));
  // Another process (a forked child opens the lock file anew) is refused while we hold it.
  EXPECT_EXIT(
      std::_Exit(platform::acquireInstanceLock() == platform::InstanceLock::HeldElsewhere ? 4 : 5),
      ::testing::ExitedWithCode(4), "");
  // Another user's settings folder has a lock of its own.
  test::TempDir otherUser;
  ::setenv("XDG_CONFIG_HOME", otherUser.path().c_str(), 1);
  EXPECT_EXIT(
      std::_Exit(platform::acquireInstanceLock() == platform::InstanceLock::Acquired ? 4 : 5),
      ::testing::ExitedWithCode(4), "");
}

TEST_F(SettingsTest, CrashBeforeTheRenameKeepsThePreviousValue) {
  InstallState& state = runContext().state;
  state.launcherPath = "/old/folder/";
  saveLauncherPath(state);

  // The child dies right after the new value is in its temporary file.
  EXPECT_EXIT(
      {
        platform::posix::setBeforeReplaceHook([] { std::_Exit(3); });
        state.launcherPath = "/new/folder/";
        saveLauncherPath(state);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(3), "");

  EXPECT_EQ(test::readFile(store()), "/old/folder/");
  loadLauncherPath(state);
  EXPECT_EQ(state.launcherPath, "/old/folder/");

  // The next save goes through and replaces the value whole.
  state.launcherPath = "/new/folder/";
  saveLauncherPath(state);
  EXPECT_EQ(test::readFile(store()), "/new/folder/");
}

}  // namespace
}  // namespace vestrel
