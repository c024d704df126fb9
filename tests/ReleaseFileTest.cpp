#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/lists/ListRules.h"
#include "update/lists/ReleaseFile.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel {
namespace {

// Every field: the writer's text holds all those it writes, and it writes each apart.
std::string fieldsOf(const Release& r) {
  return releaseText(r) + std::to_string(r.expiresAt) + "|" + r.keyId + "|" + r.signature + "|" +
         std::to_string(r.signedLength);
}

struct Keys {
  std::string publicKey, secretKey, bytes;
};

Keys newKeys() {
  Keys keys;
  EXPECT_TRUE(makeReleaseKeys(keys.publicKey, keys.secretKey));
  EXPECT_TRUE(decodePublicKey(keys.publicKey, keys.bytes));
  return keys;
}

Release sample() {
  Release r;
  r.serial = 18446744073709551615u;  // the largest serial still reads
  r.expires = "2038-01-19T03:14:08Z";
  r.expiresAt = 2147483648;
  r.lists = {
      {{0, std::string(64, '0')}, {734, std::string(64, 'f')}, {66, "0a" + std::string(62, '9')}}};
  // Lines as ufile.lists holds them: blanks anywhere, Windows-1251 letters.
  r.files = {{" data/a  b.pak ", 5, std::string(64, 'c'), std::string(32, 'd')},
             {"\xc4\xe0\xed\xed\xfb\x5c\xf4\xe0\xe9\xeb.txt", 0, std::string(64, 'e'),
              std::string(32, '1')}};
  return r;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

TEST(ReleaseFile, SignedReleaseReadsBackAndVerifiesOnlyForItsKey) {
  const Keys mine = newKeys(), other = newKeys(), stranger = newKeys();
  std::string publicKey;
  ASSERT_TRUE(publicKeyOf(mine.secretKey, publicKey));
  EXPECT_EQ(publicKey, mine.publicKey);
  EXPECT_NE(releaseKeyId(mine.bytes), releaseKeyId(other.bytes));
  Release bare;  // no expiry, no files
  bare.lists = sample().lists;
  for (Release written : {sample(), bare}) {
    const std::string text = releaseText(written);
    std::string line;
    ASSERT_TRUE(signReleaseText(text, mine.secretKey, line));
    const std::string bytes = text + line;
    Release read;
    std::string why;
    ASSERT_TRUE(readRelease(bytes, read, why)) << why;
    EXPECT_EQ(line, releaseSignatureLine(releaseKeyId(mine.bytes), read.signature));
    written.keyId = read.keyId;
    written.signature = read.signature;
    written.signedLength = text.size();
    EXPECT_EQ(fieldsOf(read), fieldsOf(written));
    EXPECT_TRUE(releaseSignedBy(read, bytes, {mine.bytes}));
    EXPECT_TRUE(releaseSignedBy(read, bytes, {other.bytes, mine.bytes}));
    EXPECT_FALSE(releaseSignedBy(read, bytes, {stranger.bytes}));
    EXPECT_FALSE(releaseSignedBy(read, bytes, {}));

    // One changed byte anywhere, the signature line's too: refused, or no longer signed.
    int stillRead = 0;
    for (std::size_t at = 0; at < 2 * bytes.size(); ++at) {
      std::string changed = bytes;
      changed[at / 2] = static_cast<char>(changed[at / 2] ^ (at % 2 ? 0x80 : 0x01));
      Release r;
      if (readRelease(changed, r, why)) {
        ++stillRead;
        EXPECT_FALSE(releaseSignedBy(r, changed, {other.bytes, mine.bytes})) << "byte " << at / 2;
      }
    }
    EXPECT_GT(stillRead, 10);
    // The same signature claimed for another key is no one's.
    const std::string renamed =
        text + releaseSignatureLine(releaseKeyId(other.bytes), read.signature);
    Release r;
    ASSERT_TRUE(readRelease(renamed, r, why)) << why;
    EXPECT_FALSE(releaseSignedBy(r, renamed, {other.bytes, mine.bytes}));
  }
  std::string line;
  EXPECT_FALSE(signReleaseText("x", mine.publicKey, line));
  EXPECT_FALSE(decodePublicKey(mine.secretKey, publicKey));
  // Base64 has one spelling: no byte outside its alphabet stands in for '/'.
  const std::string slashes = std::string(42, '/') + "8=";
  EXPECT_TRUE(decodePublicKey(slashes, publicKey));
  EXPECT_FALSE(decodePublicKey(replaced(slashes, "/", "\xaf"), publicKey));

  // Key material is wiped however its scope is left, a failure's included.
  std::string secret = mine.secretKey;
  const auto leaveEarly = [&secret] {
    const WipedOnExit wipe(secret);
    return false;
  };
  EXPECT_FALSE(leaveEarly());
  EXPECT_EQ(secret, std::string(mine.secretKey.size(), '\0'));
}

TEST(ReleaseFile, MalformedFilesAreRefusedWithAReason) {
  const std::string sig = "signature 0123456789abcdef c2ln\n";
  const std::string text = releaseText(sample()), good = text + sig;
  const std::string udirs = "list udirs.lists 0 " + std::string(64, '0') + "\n";
  const std::string ufile = "list ufile.lists 734 " + std::string(64, 'f') + "\n";
  Release many = sample();
  many.files.resize(kMaxListLines + 1, many.files[0]);
  const struct {
    std::string bytes, why;
  } cases[] = {
      {"", "ends early"},
      {replaced(good, "release 1", "release 3"), "not a release file"},
      {replaced(good, "release 1", "release 2"), "cut into chunks in a way"},
      {replaced(good, "serial 18446744073709551615\n", ""), "no serial"},
      {replaced(good, "serial 1", "serial 01"), "no serial"},
      {replaced(good, "551615", "551616"), "no serial"},
      {replaced(good, "serial", "serial "), "no serial"},
      {replaced(good, "08Z", "08"), "expiry"},
      {replaced(good, "2038-01-19", "2023-02-29"), "expiry"},
      {replaced(good, " 734 ", " 0734 "), "no list line for ufile.lists"},
      {replaced(good, " 734 ", " 99999999999999999999 "), "no list line for ufile.lists"},
      {replaced(good, " 734 f", " 734 F"), "no list line for ufile.lists"},
      {replaced(good, "0a999", "0a99"), "no list line for uhash.lists"},
      {replaced(good, udirs + ufile, ufile + udirs), "no list line for udirs.lists"},
      {replaced(good, ufile, ""), "no list line for ufile.lists"},
      {replaced(good, std::string(32, 'd'), std::string(31, 'd') + "g"), "not SIZE SHA256 MD5"},
      {replaced(good, sample().files[1].line, ""), "not SIZE SHA256 MD5"},
      {replaced(good, ".txt\n", ".txt\r\n"), "CR"},
      {replaced(good, ".txt\n", std::string(400, 'x') + "\n"), "too long"},
      {good.substr(0, good.size() - 1), "no line end"},
      {text, "ends early"},
      {good + "\n", "bytes follow"},
      {good + sig, "bytes follow"},
      {replaced(good, "9abcdef", "9abcde"), "neither a file line nor the signature"},
      {replaced(good, "file 0", "fils 0"), "neither a file line nor the signature"},
      {releaseText(many) + sig, "more files"},
      {std::string(kMaxReleaseBytes + 1, 'x'), "larger"},
  };
  Release r;
  std::string why;
  EXPECT_TRUE(readRelease(good, r, why)) << why;
  many.files.pop_back();
  EXPECT_TRUE(readRelease(releaseText(many) + sig, r, why)) << why;
  EXPECT_EQ(r.files.size(), kMaxListLines);
  for (const auto& c : cases) {
    EXPECT_FALSE(readRelease(c.bytes, r, why)) << c.why;
    EXPECT_NE(why.find(c.why), std::string::npos)
        << "wanted '" << c.why << "', got '" << why << "'";
  }
}

TEST(ReleaseFile, UtcTimesAreRealMomentsOnly) {
  const struct {
    const char* text;
    std::int64_t seconds;
  } good[] = {{"1970-01-01T00:00:00Z", 0},          {"1969-12-31T23:59:59Z", -1},
              {"2000-02-29T12:00:00Z", 951825600},  {"2024-12-31T23:59:59Z", 1735689599},
              {"2038-01-19T03:14:08Z", 2147483648}, {"2400-02-29T00:00:00Z", 13574563200}};
  for (const auto& g : good) {
    std::int64_t seconds = 7;
    EXPECT_TRUE(parseUtcTime(g.text, seconds)) << g.text;
    EXPECT_EQ(seconds, g.seconds) << g.text;
  }
  for (const char* bad :
       {"2023-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2024-04-31T00:00:00Z",
        "2024-13-01T00:00:00Z", "2024-00-10T00:00:00Z", "2024-01-00T00:00:00Z",
        "2024-01-01T24:00:00Z", "2024-01-01T00:60:00Z", "2024-01-01T00:00:60Z",
        "2024-01-01T00:00:00", "2024-01-01T00:00:00z", "2024-01-01 00:00:00Z",
        "2024-1-01T00:00:00Z", "+024-01-01T00:00:00Z", "2024-01-01T00:00:00Z ", ""}) {
    std::int64_t seconds = 0;
    EXPECT_FALSE(parseUtcTime(bad, seconds)) << bad;
  }
}

}  // namespace
}  // namespace vestrel
