#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/LocalPaths.h"
#include "tests/TestSupport.h"
#include "update/InstallState.h"

namespace vestrel {
namespace {

TEST(InstallState, QueueContainsIsExactAndEmptyMatchesFreeSlots) {
  InstallState state;
  ASSERT_TRUE(queuePush(state, "/root/a.txt"));
  EXPECT_TRUE(queueContains(state, "/root/a.txt"));
  EXPECT_FALSE(queueContains(state, "/root/A.txt"));
  EXPECT_FALSE(queueContains(state, "/root/a.tx"));
  EXPECT_FALSE(queueContains(state, "/root/a.txt "));
  EXPECT_TRUE(queueContains(state, ""));  // 499 slots are free

  for (int i = 1; i < QueueCapacity; ++i) {
    ASSERT_TRUE(queuePush(state, "/root/f" + std::to_string(i)));
  }
  EXPECT_FALSE(queueContains(state, ""));  // no free slot left
}

TEST(InstallState, FullTablesRefuseTheNextEntry) {
  InstallState state;
  for (int i = 0; i < QueueCapacity; ++i) {
    ASSERT_TRUE(queuePush(state, "p" + std::to_string(i)));
    ASSERT_TRUE(digestPush(state, "d" + std::to_string(i)));
  }
  EXPECT_FALSE(queuePush(state, "one too many"));
  EXPECT_FALSE(digestPush(state, "one too many"));
  EXPECT_EQ(state.pendingCount, QueueCapacity);
  EXPECT_EQ(state.digestCount, QueueCapacity);
  EXPECT_EQ(state.fileQueue[QueueCapacity - 1], "p499");
  EXPECT_FALSE(queueContains(state, "one too many"));
}

TEST(InstallState, CompactQueueSortsUnsignedBytesPrefixFirstEmptiesLast) {
  InstallState state;
  state.fileQueue[7] = "/r/b";
  state.fileQueue[3] = "/r/\xD0\x90";  // a byte above 0x7F sorts after ASCII
  state.fileQueue[0] = "/r/ab";
  state.fileQueue[499] = "/r/a";
  state.fileQueue[250] = "/r/B";
  state.pendingCount = 5;
  compactQueue(state);
  const std::vector<std::string> head(state.fileQueue.begin(), state.fileQueue.begin() + 5);
  EXPECT_EQ(head, (std::vector<std::string>{"/r/B", "/r/a", "/r/ab", "/r/b", "/r/\xD0\x90"}));
  for (int i = 5; i < QueueCapacity; ++i) {
    ASSERT_EQ(state.fileQueue[i], "") << i;
  }
  EXPECT_EQ(state.pendingCount, 5);  // left as it was

  InstallState empty;
  compactQueue(empty);  // all empty: nothing changes
  EXPECT_FALSE(queueContains(empty, "x"));
}

TEST(InstallState, CompactQueueSortsAFullQueue) {
  InstallState state;
  for (int i = 0; i < QueueCapacity; ++i) {
    state.fileQueue[i] = "/r/" + std::to_string((i * 7919) % QueueCapacity);
  }
  compactQueue(state);
  EXPECT_TRUE(std::is_sorted(state.fileQueue.begin(), state.fileQueue.end()));
  EXPECT_EQ(std::set<std::string>(state.fileQueue.begin(), state.fileQueue.end()).size(),
            static_cast<std::size_t>(QueueCapacity));
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
