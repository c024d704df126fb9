#include "update/net/FileHosts.h"

#include <gtest/gtest.h>

namespace vestrel {
namespace {

using namespace std::chrono_literals;
using Clock = FileHosts::Clock;

TEST(FileHostsTest, FailuresMoveTheRunInTurnAndRestingHostsArePassedOverUntilTheyAreBack) {
  FileHosts hosts(3);
  const Clock::time_point start = Clock::now();
  Clock::time_point back;
  EXPECT_EQ(hosts.pick(start, back), 0u);
  // A transfer that went to an earlier host fails after the run moved: no second move.
  EXPECT_TRUE(hosts.failed(0, start, std::nullopt));
  EXPECT_FALSE(hosts.failed(0, start, std::nullopt));
  EXPECT_EQ(hosts.ask(start), 1u);
  EXPECT_EQ(hosts.lastAsked(), 1u);
  // Host 0's third failure in a row rests it for a minute; host 1 answering clears its own.
  hosts.answered(1);
  EXPECT_TRUE(hosts.failed(1, start, std::nullopt));
  EXPECT_FALSE(hosts.failed(0, start, std::nullopt));
  EXPECT_TRUE(hosts.failed(2, start, std::nullopt));
  EXPECT_EQ(hosts.current(), 0u);
  EXPECT_EQ(hosts.pick(start, back), 1u) << "the resting primary is passed over";
  EXPECT_EQ(hosts.askedToWait(start, back), kNoHost) << "a rest it did not ask for";
  EXPECT_EQ(hosts.pick(start + kHostRest, back), 0u) << "and gone back to once it is rested";
  // Retry-After rests a host, longer waits capped; when every host rests, pick says when
  // the first is back, and ask() names the current host all the same.
  FileHosts busy(2);
  busy.failed(0, start, 3s);
  busy.failed(1, start, 3600s);
  EXPECT_EQ(busy.pick(start + 2s, back), kNoHost);
  EXPECT_EQ(back, start + 3s);
  EXPECT_EQ(busy.ask(start + 2s), busy.current());
  EXPECT_EQ(busy.pick(start + 3s, back), 0u);
  busy.failed(0, start + 3s, 5s);
  EXPECT_EQ(busy.pick(start + kLongestRetryAfter, back), 1u);
  // A lone host rests only as long as it asked, never for failing in a row.
  FileHosts alone(1);
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(alone.failed(0, start, std::nullopt));
  }
  EXPECT_EQ(alone.pick(start, back), 0u);
  alone.failed(0, start, 3s);
  EXPECT_EQ(alone.pick(start + 1s, back), kNoHost);
  EXPECT_EQ(alone.askedToWait(start + 1s, back), 0u);
  EXPECT_EQ(back, start + 3s);
}

TEST(FileHostsTest, RetryAfterInSecondsOrAsADateIsCappedAndJitterStaysWithinTheBackOff) {
  const std::int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  EXPECT_EQ(parseRetryAfter("3", now), 3s);
  EXPECT_EQ(parseRetryAfter(" 120 ", now), 120s);
  EXPECT_EQ(parseRetryAfter("86400", now), kLongestRetryAfter);
  EXPECT_EQ(parseRetryAfter("99999999999999999999999", now), std::nullopt);
  EXPECT_EQ(parseRetryAfter("Sun, 06 Nov 1994 08:50:07 GMT", now), 30s);
  EXPECT_EQ(parseRetryAfter("Sun, 06 Nov 1994 08:49:00 GMT", now), 0s) << "a date gone by";
  EXPECT_EQ(parseRetryAfter("Mon, 07 Nov 1994 08:49:37 GMT", now), kLongestRetryAfter);
  EXPECT_EQ(parseRetryAfter("Thu, 01 Mar 2029 00:00:00 GMT", 1867017600 - 45), 45s);
  for (const char* wrong : {"", "-3", "3.5", "soon", "Sun, 06 Foo 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 25:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT"}) {
    EXPECT_EQ(parseRetryAfter(wrong, now), std::nullopt) << wrong;
  }
  EXPECT_EQ(jittered(0ms, 12345), 0ms);
  EXPECT_EQ(jittered(1000ms, 0), 0ms);
  EXPECT_EQ(jittered(1000ms, 1000), 1000ms);
  EXPECT_EQ(jittered(1000ms, 1001), 0ms);
  EXPECT_LE(jittered(30000ms, ~std::uint64_t{0}), 30000ms);
}

}  // namespace
}  // namespace vestrel
