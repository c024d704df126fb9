// A download that was cut off, kept so that it can go on from where it stopped: the part
// holds the file's first bytes (kPartialSuffix), and beside it a small sidecar
// (kResumeSuffix) holds what the server said of the file those bytes came from, its strong
// ETag or else its Last-Modified. The rest is asked for with "Range" and "If-Range" on that
// validator, so a server whose file has changed since answers with the whole new file
// instead of the rest of the old one. A part without a sidecar cannot be trusted to be the
// start of any particular file and is never resumed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vestrel {

// A smaller file is fetched again whole rather than resumed: its sidecar would cost more
// (two more files made and removed for every file, with a scan of each on some systems)
// than the bytes it could save.
inline constexpr std::uint64_t kSmallestResumable = 1 << 20;

// The part and the sidecar of the file at `finalPath`.
std::string partPath(const std::string& finalPath);
std::string sidecarPath(const std::string& finalPath);

// The validator kept beside the part of `finalPath`; false when there is none to trust.
bool readValidator(const std::string& finalPath, std::string& validator);
// Keeps `validator` beside the part of `finalPath`; false when it could not be written.
bool writeValidator(const std::string& finalPath, const std::string& validator);
// Removes the part of `finalPath` and its sidecar, where they are.
void removeResumable(const std::string& finalPath);

// What one answer's headers say, taken line by line as libcurl hands them over. Each status
// line starts afresh: a redirect's headers come before the file's.
struct AnswerHeads {
  std::string etag;
  std::string lastModified;
  bool ranged = false;  // a Content-Range of bytes was given:
  std::uint64_t rangeStart = 0;
  std::uint64_t total = 0;  // 0: not given ("*")

  // Takes one header line; true when it is the blank line that ends the headers.
  bool take(std::string_view line);
  // What a later request may name in "If-Range": the ETag when it is a strong one (a weak one
  // never matches a range request), else the Last-Modified; empty when there is neither.
  std::string validator() const;
};

}  // namespace vestrel
