// The signed release file (.launcher/urelease.lists beside the three lists): what the
// publisher vouches for with a signature, so that the installer trusts the publisher's key
// rather than whoever controls the file server.
//
// Text, LF-ended lines, in this order:
//   vestrel-release 1                          the format's version (1 or 2)
//   serial N                                   grows with every release; never goes back
//   expires YYYY-MM-DDTHH:MM:SSZ               optional: refused from that moment on (UTC)
//   chunking fastcdc MIN AVERAGE MAX           format 2 only: how files were cut into chunks
//                                              (update/chunks/ChunkCutter.h)
//   list udirs.lists SIZE SHA256               the three lists, each once, in this order
//   list ufile.lists SIZE SHA256
//   list uhash.lists SIZE SHA256
//   file SIZE SHA256 MD5 LINE                  one per line of ufile.lists, in its order;
//                                              LINE is the list's line, byte for byte
//   chunks SIZE SHA256                         format 2, optional, right after a file line:
//                                              the file is served as chunks too, and this
//                                              is its index (update/chunks/ChunkIndex.h)
//   signature KEYID BASE64                     Ed25519 over every byte before this line
// Digests are lowercase hex; KEYID names the signing key (releaseKeyId).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "update/lists/OwnFiles.h"

namespace vestrel {

inline constexpr int kReleaseFormat = 1;
inline constexpr int kChunkedReleaseFormat = 2;
// A release file larger than this is refused while it arrives: a file line of every listed
// file fits.
inline constexpr std::size_t kMaxReleaseBytes = std::size_t{128} << 20;

struct ReleasedList {
  std::uint64_t size = 0;
  std::string sha256;
};

struct ReleasedFile {
  std::string line;  // as ufile.lists holds it
  std::uint64_t size = 0;
  std::string sha256;
  std::string md5;
  std::uint64_t indexSize = 0;  // its chunk index, when it is served as chunks
  std::string indexSha256{};    // empty: fetched whole
};

struct Release {
  int format = kReleaseFormat;
  std::uint64_t serial = 0;
  std::string expires;                // empty: the release does not expire
  std::int64_t expiresAt = 0;         // seconds since 1970-01-01 UTC, when it does
  std::array<ReleasedList, 3> lists;  // udirs, ufile, uhash
  std::vector<ReleasedFile> files;
  std::string keyId;
  std::string signature;         // base64, as written
  std::size_t signedLength = 0;  // bytes of the file that the signature covers
};

// A release a run accepted: the file as it came, to be kept once the run has succeeded, and
// each file's entry under its queue path (the install root and the file's line as the
// installer reads it).
struct AcceptedRelease {
  Release release;
  std::string bytes;
  std::map<std::string, ReleasedFile, std::less<>> files;
};

// The release's names of the three lists, in the order the file gives them.
inline constexpr std::array<const char*, 3> kReleasedListNames = {kFolderListName, kFileListName,
                                                                  kDigestListName};

// Reads a release file's bytes. False, with what is wrong in `why`, for anything but a whole
// file of this format; the signature is read, not checked (update/lists/ReleaseSignature.h).
bool readRelease(std::string_view bytes, Release& release, std::string& why);

// Everything a signature covers, written from `release` (its key and signature ignored).
std::string releaseText(const Release& release);

// The signature line that ends the file.
std::string releaseSignatureLine(std::string_view keyId, std::string_view signature);

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970-01-01 UTC; false for any other text or a date
// that does not exist.
bool parseUtcTime(std::string_view text, std::int64_t& seconds);

}  // namespace vestrel
