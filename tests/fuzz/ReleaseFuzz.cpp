// Feeds arbitrary bytes, as a hostile file server could send them, through the release file
// reader, and traps on any broken promise: a refusal says why; an accepted file is exactly
// what the writer writes for what was read, and nothing shorter is accepted; every expiry is a
// real moment; and no signature holds but one this process made.
//
// Input layout: the whole input is the release file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "update/chunks/ChunkCutter.h"
#include "update/lists/ReleaseFile.h"
#include "update/lists/ReleaseSignature.h"

namespace {

using vestrel::Release;

#define CHECK(cond)                                                                           \
  do {                                                                                        \
    if (!(cond)) {                                                                            \
      std::fprintf(stderr, "release fuzz invariant broken: %s (line %d)\n", #cond, __LINE__); \
      __builtin_trap();                                                                       \
    }                                                                                         \
  } while (false)

// Every field but the signer's, which the checks below change on purpose.
std::string contentOf(const Release& r) {
  std::string out = std::to_string(r.format) + "|" + std::to_string(r.serial) + "|" + r.expires +
                    "|" + std::to_string(r.expiresAt) + "|" + std::to_string(r.signedLength);
  for (const vestrel::ReleasedList& list : r.lists) {
    out += "|" + std::to_string(list.size) + " " + list.sha256;
  }
  for (const vestrel::ReleasedFile& file : r.files) {
    out += "|" + std::to_string(file.size) + " " + file.sha256 + " " + file.md5 + " " + file.line +
           " " + std::to_string(file.indexSize) + " " + file.indexSha256;
  }
  return out;
}

bool lowerHex(std::string_view text, std::size_t length) {
  return text.size() == length && text.find_first_not_of("0123456789abcdef") == text.npos;
}

// The moment the text names, by the C library rather than the product's calendar arithmetic:
// the text is one exactly when timegm leaves its fields as they were.
bool referenceTime(std::string_view text, std::int64_t& seconds) {
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != kShape[i]) {
      return false;
    }
  }
  const auto at = [&](std::size_t i, std::size_t n) {
    return std::stoi(std::string(text.substr(i, n)));
  };
  std::tm tm{};
  tm.tm_year = at(0, 4) - 1900;
  tm.tm_mon = at(5, 2) - 1;
  tm.tm_mday = at(8, 2);
  tm.tm_hour = at(11, 2);
  tm.tm_min = at(14, 2);
  tm.tm_sec = at(17, 2);
  const std::tm asked = tm;
  seconds = timegm(&tm);
  return tm.tm_year == asked.tm_year && tm.tm_mon == asked.tm_mon && tm.tm_mday == asked.tm_mday &&
         tm.tm_hour == asked.tm_hour && tm.tm_min == asked.tm_min && tm.tm_sec == asked.tm_sec;
}

void checkTime(std::string_view text) {
  std::int64_t product = 0, reference = 0;
  const bool accepted = vestrel::parseUtcTime(text, product);
  CHECK(accepted == referenceTime(text, reference));
  CHECK(!accepted || product == reference);
}

// A key pair of this process only, so no input can carry a signature it makes.
struct Signer {
  std::string publicKey, secretKey, key;
};

const Signer& signer() {
  static const Signer made = [] {
    Signer s;
    CHECK(vestrel::makeReleaseKeys(s.publicKey, s.secretKey));
    CHECK(vestrel::decodePublicKey(s.publicKey, s.key));
    return s;
  }();
  return made;
}

// The accepted file's own text, and the same text signed here: it reads back as the same
// release, verifies, and stops verifying when any one byte of it changes.
void checkAccepted(std::string_view bytes, const Release& release) {
  CHECK(release.files.size() <= 500);
  for (const vestrel::ReleasedList& list : release.lists) {
    CHECK(lowerHex(list.sha256, 64));
  }
  for (const vestrel::ReleasedFile& file : release.files) {
    CHECK(lowerHex(file.sha256, 64) && lowerHex(file.md5, 32) && !file.line.empty());
    // Only a chunked release names indexes, each of a file large enough to be chunked.
    CHECK(file.indexSha256.empty() ||
          (release.format == vestrel::kChunkedReleaseFormat && lowerHex(file.indexSha256, 64) &&
           file.indexSize > 0 && file.size >= vestrel::kSmallestChunkedFile));
  }
  CHECK(lowerHex(release.keyId, 16) && !release.signature.empty());
  std::int64_t expiresAt = 0;
  CHECK(release.expires.empty() ||
        (referenceTime(release.expires, expiresAt) && expiresAt == release.expiresAt));

  const std::string text = vestrel::releaseText(release);
  CHECK(text == bytes.substr(0, release.signedLength));
  CHECK(text + vestrel::releaseSignatureLine(release.keyId, release.signature) == bytes);
  Release shorter;
  std::string why;
  CHECK(!vestrel::readRelease(bytes.substr(0, bytes.size() - 1), shorter, why));

  const std::vector<std::string> keys = {signer().key};
  CHECK(!vestrel::releaseSignedBy(release, bytes, keys));
  std::string line;
  CHECK(vestrel::signReleaseText(text, signer().secretKey, line));
  std::string signedHere = text + line;
  Release again;
  CHECK(vestrel::readRelease(signedHere, again, why));
  CHECK(contentOf(again) == contentOf(release));
  CHECK(again.keyId == vestrel::releaseKeyId(signer().key));
  CHECK(vestrel::releaseSignedBy(again, signedHere, keys));
  // Which byte changes is picked by the input, so that over a run each kind of field does.
  const std::size_t at = (bytes.size() * 31 + release.files.size()) % signedHere.size();
  signedHere[at] = static_cast<char>(signedHere[at] ^ (1 << (bytes.size() % 8)));
  CHECK(!vestrel::readRelease(signedHere, again, why) ||
        !vestrel::releaseSignedBy(again, signedHere, keys));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Every expiry the input offers, whether or not it stands where the format wants one.
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
    const std::string_view line = bytes.substr(start, end - start);
    if (line.starts_with("expires ")) {
      checkTime(line.substr(8));
    }
    start = end + 1;
  }
  Release release;
  std::string why;
  if (!vestrel::readRelease(bytes, release, why)) {
    CHECK(!why.empty());
    return 0;
  }
  CHECK(why.empty());
  checkAccepted(bytes, release);
  return 0;
}
