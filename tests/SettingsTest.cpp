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
  EXPECT_EQ(loadInstallFolder(), "");
  ASSERT_TRUE(std::filesystem::exists(store()));
  EXPECT_EQ(test::readFile(store()), "");
  EXPECT_EQ(loadInstallFolder(), "");  // an empty value is no folder either
}

TEST_F(SettingsTest, CyrillicFolderSurvivesRoundTripByteForByte) {
  saveInstallFolder("/home/игрок/Игры/Лаунчер/");
  EXPECT_EQ(test::readFile(store()), "/home/игрок/Игры/Лаунчер/");  // no newline added
  EXPECT_EQ(loadInstallFolder(), "/home/игрок/Игры/Лаунчер/");
}

TEST_F(SettingsTest, EmptyPathNeverErasesAStoredFolderButForgettingItDoes) {
  saveInstallFolder("/games/vestrel/");
  saveInstallFolder("");
  EXPECT_EQ(test::readFile(store()), "/games/vestrel/");

  forgetInstallFolder();
  saveInstallFolder("");  // the shutdown's save cannot bring it back
  EXPECT_EQ(loadInstallFolder(), "");
  EXPECT_EQ(test::readFile(store()), "");
}

TEST_F(SettingsTest, OversizedOrUnreadableValueCountsAsNoFolder) {
  test::writeFile(store(), "/" + std::string(257, 'a') + "/");  // 259 bytes: still fits
  EXPECT_NE(loadInstallFolder(), "");
  test::writeFile(store(), "/" + std::string(258, 'a'));  // 259 bytes, 260 with its '/'
  EXPECT_EQ(loadInstallFolder(), "");
  test::writeFile(store(), "/" + std::string(259, 'a'));  // 260 bytes: refused, not cut
  EXPECT_EQ(loadInstallFolder(), "");
  test::writeFile(store(), std::string("/a\0b/", 5));
  EXPECT_EQ(loadInstallFolder(), "");

  std::filesystem::remove(store());
  std::filesystem::create_directories(store());  // a folder where the value should be
  EXPECT_EQ(loadInstallFolder(), "");
}

TEST_F(SettingsTest, RelativeValueIsNoFolderAndAMissingFinalSlashIsAdded) {
  for (const char* relative : {"install", "./install/", "games/vestrel/", "~/games/"}) {
    test::writeFile(store(), relative);
    EXPECT_EQ(loadInstallFolder(), "") << relative;
  }
  // Without its '/', every file would be written beside the folder ("/games/installx").
  test::writeFile(store(), "/games/install");
  EXPECT_EQ(loadInstallFolder(), "/games/install/");
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
  saveInstallFolder("/old/folder/");

  // The child dies right after the new value is in its temporary file.
  EXPECT_EXIT(
      {
        platform::posix::setBeforeReplaceHook([] { std::_Exit(3); });
        saveInstallFolder("/new/folder/");
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(3), "");

  EXPECT_EQ(test::readFile(store()), "/old/folder/");
  EXPECT_EQ(loadInstallFolder(), "/old/folder/");

  // The next save goes through and replaces the value whole.
  saveInstallFolder("/new/folder/");
  EXPECT_EQ(test::readFile(store()), "/new/folder/");
}

}  // namespace
}  // namespace vestrel
