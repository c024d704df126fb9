#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LocalPaths.h"
#include "tests/TestSupport.h"
#include "update/InstallState.h"

namespace vestrel {
namespace {

// A game's queue: every lookup exact, an emptied entry no longer found, and compaction
// leaving the paths sorted by unsigned bytes (a prefix first) and still found.
TEST(InstallState, AGameSizedQueueIsFoundExactlyAndCompactsInByteOrder) {
  InstallState state;
  constexpr int kFiles = 200000;
  for (int i = 0; i < kFiles; ++i) {
    queuePush(state, "/r/f" + std::to_string((i * 7919) % kFiles));
    digestPush(state, "d" + std::to_string(i));
  }
  for (const char* path : {"/r/b", "/r/\xD0\x90", "/r/ab", "/r/a", "/r/B"}) {
    queuePush(state, path);  // a byte above 0x7F sorts after ASCII
  }
  EXPECT_EQ(state.pendingCount, kFiles + 5);
  EXPECT_TRUE(queueContains(state, "/r/f199999"));
  EXPECT_FALSE(queueContains(state, "/r/F199999"));
  EXPECT_FALSE(queueContains(state, "/r/f19999 "));
  EXPECT_FALSE(queueContains(state, ""));
  EXPECT_TRUE(digestListed(state, "d0"));
  EXPECT_FALSE(digestListed(state, "d"));
  EXPECT_FALSE(digestListed(state, ""));

  // The walk empties the entries of the files it found right.
  for (int i = 0; i < kFiles; ++i) {
    std::string* slot = queueSlot(state, "/r/f" + std::to_string(i));
    ASSERT_NE(slot, nullptr) << i;
    slot->clear();
  }
  EXPECT_FALSE(queueContains(state, "/r/f0"));
  compactQueue(state);
  EXPECT_EQ(state.fileQueue,
            (std::vector<std::string>{"/r/B", "/r/a", "/r/ab", "/r/b", "/r/\xD0\x90"}));
  EXPECT_EQ(queueSlot(state, "/r/ab"), &state.fileQueue[2]);

  InstallState empty;
  compactQueue(empty);
  EXPECT_FALSE(queueContains(empty, "x"));
}

TEST(InstallState, InstallFolderRefusesWhatDoesNotFit) {
  InstallState state;
  ASSERT_TRUE(setInstallFolder(state, "/games/"));
  EXPECT_FALSE(setInstallFolder(state, "/" + std::string(259, 'a')));
  EXPECT_FALSE(setInstallFolder(state, std::string("/a\0b/", 5)));
  EXPECT_EQ(state.installFolder, "/games/");
  EXPECT_TRUE(setInstallFolder(state, "/" + std::string(258, 'a')));
}

// Every path below the install folder is made by one rule: never "//", never a name run
// into its folder, whichever side brings the separator.
TEST(InstallState, PathsJoinWithExactlyOneSeparator) {
  for (const char* folder : {"/games/install/", "/games/install", "/games/install//"}) {
    EXPECT_EQ(joinPath(folder, "udirs.lists"), "/games/install/udirs.lists") << folder;
    EXPECT_EQ(joinPath(folder, "/bin/a.dll"), "/games/install/bin/a.dll") << folder;
  }
  EXPECT_EQ(joinPath("/", "installer.log"), "/installer.log");
  EXPECT_EQ(joinPath("C:/", "installer.log"), "C:/installer.log");
  EXPECT_EQ(joinPath("", "bin/a.dll"), "bin/a.dll");
  EXPECT_EQ(joinPath("/games/", ""), "/games/");
}

}  // namespace
}  // namespace vestrel
