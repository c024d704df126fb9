// The verified-state record: what the last run found right, so that the next one hashes only
// what changed since.
//
// After a run whose files were all verified, installer.state at the install root keeps, for
// each listed file, its stamp (size, last write, identity: platform/FileStamp.h) and its MD5
// digest, with the program's version, the install root and the moment of the last pass that
// hashed every file (a run that took digests from the record passes that moment on). The
// next run takes a file's recorded digest instead of hashing it only when its stamp is still
// the recorded one; a file touched by anyone (its time, size or identity moved) is hashed. The
// whole record is passed over, and every file hashed, when that pass is older than
// kRecordLifetime, or the record was written by another version of the program, names another
// install root, or cannot be read: a stale record costs a full pass, never a wrong file
// counted as right.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/FileStamp.h"

namespace vestrel {

struct InstallState;

inline constexpr std::chrono::hours kRecordLifetime{24 * 7};

// A game's record holds a line per file, so each entry is kept small: the digest's 32 hex
// digits in place, with no allocation of their own.
struct RecordedFile {
  platform::FileStamp stamp;
  std::array<char, 32> md5{};
  std::string_view digest() const { return {md5.data(), md5.size()}; }
};

class VerifiedRecord {
 public:
  // Takes `text` as a record of `root` written by `version`, looked at `now`. False (and the
  // record empty) when it is not one to trust, for any of the reasons above.
  bool parse(std::string_view text, std::string_view root, std::string_view version,
             std::chrono::system_clock::time_point now);
  // Reads the record in the install folder `root`, written by this program; false as parse.
  bool load(const std::string& root);
  // The moment of the full pass the record goes back to (parse or load returned true).
  std::chrono::system_clock::time_point since() const { return since_; }

  // The digest recorded for the file at `relative` (its list line) when its stamp is still
  // `stamp`; empty when it must be hashed. The file's entry is taken out either way: the walk
  // asks once for each file, and a game's record gives its room back as the walk goes.
  std::string takeUnchangedDigest(const std::string& relative, const platform::FileStamp& stamp);

 private:
  struct Expected {
    std::string_view root;
    std::string_view version;
    std::chrono::system_clock::time_point now;
  };
  // Takes the record's next line; false when it is not what that line must be.
  bool takeLine(std::string_view line, const Expected& expected);

  // Each file by two independent 64-bit hashes of its path, rather than the path: a game's
  // record holds a hundred thousand of them, and two paths that agree in both (a chance of
  // one in 2^128) would still need the very same stamp to be taken for each other.
  struct PathKey {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    bool operator==(const PathKey&) const = default;
  };
  struct PathKeyHash {
    std::size_t operator()(const PathKey& key) const { return key.first; }
  };
  static PathKey keyOf(std::string_view relative);
  std::unordered_map<PathKey, RecordedFile, PathKeyHash> files_;
  std::chrono::system_clock::time_point since_{};
  std::size_t lines_ = 0;
};

// The record's text for `files` (list line and what was verified of it).
std::string formatVerifiedRecord(std::string_view root, std::string_view version,
                                 std::chrono::system_clock::time_point since,
                                 const std::vector<std::pair<std::string, RecordedFile>>& files);

// Notes the queue entry `path` (install root and list line) as verified with `md5`, stamped
// now; a file whose stamp cannot be read is left out (the next run hashes it).
void noteVerified(InstallState& state, const std::string& path, std::string_view md5);
// The same with the stamp read before the file was hashed.
void noteVerified(InstallState& state, const std::string& path, const platform::FileStamp& stamp,
                  std::string_view md5);

// Writes the record of what this run verified (under a temporary name, then renamed), or
// removes an old one when it cannot. Quiet: a missing record only costs the next run a pass.
void saveVerifiedRecord(const InstallState& state);

}  // namespace vestrel
