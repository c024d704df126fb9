#include <gtest/gtest.h>

#include <algorithm>
#include <set>

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

TEST(InstallState, InstallRootRefusesWhatDoesNotFit) {
  InstallState state;
  ASSERT_TRUE(setInstallRoot(state, "/games/"));
  EXPECT_FALSE(setInstallRoot(state, "/" + std::string(259, 'a')));
  EXPECT_STREQ(state.installRoot, "/games/");
  EXPECT_TRUE(setInstallRoot(state, "/" + std::string(258, 'a')));
}

}  // namespace
}  // namespace vestrel
