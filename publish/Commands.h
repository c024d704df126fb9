// The tool's two commands, as functions of a tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "publish/Problem.h"
#include "publish/PublishRules.h"

namespace vestrel::publish {

// The signed release (update/lists/ReleaseFile.h): what `make` signs, what `check` holds it to.
struct ReleaseOptions {
  std::string secretKey;  // make: base64, known to be a key; empty: no release is written
  std::string expires;    // make: a time parseUtcTime takes, or empty for a lasting release
  std::optional<std::uint64_t> serial;  // make: none for one more than the tree's release
  std::string publicKey;  // check: the key's bytes; empty: the release file is not read
  bool chunks = false;    // make: serve the large files as chunks too (a release of format 2)
};

// What `make --chunks` cut and stored.
struct ChunkTotals {
  std::size_t files = 0;          // files cut
  std::size_t chunks = 0;         // chunks they are made of
  std::size_t stored = 0;         // chunks new to the store
  std::uint64_t storedBytes = 0;  // what those take on the server
};

struct Options {
  std::size_t rootBudget = kDefaultRootBudget;  // bytes of install folder, trailing '/' included
  bool progress = false;                        // draw the hashing progress line on stderr
  ReleaseOptions release;
};

struct MakeResult {
  bool written = false;
  std::size_t folders = 0;
  std::size_t files = 0;
  std::size_t digests = 0;
  std::optional<std::uint64_t> serial;  // the release's, when one was signed
  ChunkTotals chunks;                   // with --chunks: what was cut and stored
  Problems problems;                    // why nothing was written
};

// Checks the tree against every rule and, when it passes, replaces its three lists and,
// with a secret key, then its release; with chunks, the chunk store is filled first.
MakeResult makeLists(const std::string& tree, const Options& options);

struct CheckResult {
  bool consistent = false;
  Problems differences;
};

// Reads the tree's lists as the installer reads them and compares them with the lists `make`
// would write for the tree; a rule the tree breaks is reported as `make` reports it, and the
// rest of the tree is still compared. With a public key, the release must be one that key
// signed, naming these very lists and files.
CheckResult checkLists(const std::string& tree, const Options& options);

}  // namespace vestrel::publish
