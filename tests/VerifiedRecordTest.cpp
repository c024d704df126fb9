#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "update/VerifiedRecord.h"

namespace vestrel {
namespace {

using std::chrono::hours;
using std::chrono::system_clock;

// A record is trusted only for its own root and version and within its lifetime, and even
// then a file's digest is taken only while its stamp is the recorded one.
TEST(VerifiedRecord, TrustsOnlyItsOwnFreshRecordAndOnlyUntouchedFiles) {
  const system_clock::time_point hashed = system_clock::from_time_t(1'800'000'000);
  const platform::FileStamp stamp{
      .size = 16, .modified = 1'799'999'000'123'456'789, .identity = 42};
  RecordedFile pak{stamp}, dll{};
  pak.md5.fill('a');
  dll.md5.fill('c');
  const std::string text = formatVerifiedRecord("/games/v/", "1.0.0", hashed,
                                                {{"data/a b.pak", pak}, {"bin/c.dll", dll}});

  VerifiedRecord record;
  ASSERT_TRUE(record.parse(text, "/games/v/", "1.0.0", hashed + hours(24 * 7)));
  EXPECT_EQ(record.since(), hashed);
  EXPECT_EQ(record.takeUnchangedDigest("data/a b.pak", stamp), std::string(32, 'a'));
  EXPECT_EQ(record.takeUnchangedDigest("data/a b.pak", stamp), "");  // asked once per file
  EXPECT_EQ(record.takeUnchangedDigest("bin/c.dll", {.size = 0}), std::string(32, 'c'));
  EXPECT_EQ(record.takeUnchangedDigest("data/a", stamp), "");
  // A file touched by anyone: its time, its size or which file it is moved.
  for (const platform::FileStamp touched :
       {platform::FileStamp{stamp.size, stamp.modified + 1, stamp.identity},
        platform::FileStamp{stamp.size + 1, stamp.modified, stamp.identity},
        platform::FileStamp{stamp.size, stamp.modified, stamp.identity + 1}}) {
    ASSERT_TRUE(record.parse(text, "/games/v/", "1.0.0", hashed));
    EXPECT_EQ(record.takeUnchangedDigest("data/a b.pak", touched), "");
  }

  const std::vector<std::pair<std::string, system_clock::time_point>> refused = {
      {"older than 7 days", hashed + hours(24 * 7) + std::chrono::seconds(1)},
      {"from a clock ahead", hashed - hours(1)},
  };
  for (const auto& [why, now] : refused) {
    EXPECT_FALSE(record.parse(text, "/games/v/", "1.0.0", now)) << why;
    EXPECT_EQ(record.takeUnchangedDigest("data/a b.pak", stamp), "") << why;
  }
  EXPECT_FALSE(record.parse(text, "/games/w/", "1.0.0", hashed)) << "another root";
  EXPECT_FALSE(record.parse(text, "/games/v/", "1.0.1", hashed)) << "another version";
  EXPECT_FALSE(record.parse(text.substr(0, text.size() - 1), "/games/v/", "1.0.0", hashed))
      << "cut short";
  std::string damaged = text;
  damaged.replace(damaged.find(" 42 "), 4, " 4x ");
  EXPECT_FALSE(record.parse(damaged, "/games/v/", "1.0.0", hashed)) << "a damaged line";
  EXPECT_EQ(record.takeUnchangedDigest("bin/c.dll", {.size = 0}), "");
}

}  // namespace
}  // namespace vestrel
