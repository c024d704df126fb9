// What a tree must be for the players' installers to take its lists.
//
// The installers run on Windows: names are Windows names there, spelled in Windows-1251,
// compared without regard to letter case, and every path must fit the installer's 259-byte
// path buffer under whatever install folder a player chose. The line rules themselves are
// the installer's own (update/ListRules), applied to the lines exactly as they will be
// written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "publish/Problem.h"
#include "publish/TreeScan.h"

namespace vestrel::publish {

// How many bytes of install folder the paths must leave room for, unless told otherwise.
inline constexpr std::size_t kDefaultRootBudget = 100;

// An install root of `budget` bytes as the installer keeps it: '/'-separated, ending in '/'.
// `budget` is at least 1.
std::string budgetRoot(std::size_t budget);

// The key under which Windows treats two names as the same: ASCII and the Cyrillic letters
// of Windows-1251 folded to lower case.
std::u32string caseKey(std::string_view utf8Name);

// One publishable entry: the tree entry and its list line (its path in Windows-1251).
struct ListedEntry {
  const TreeEntry* entry;
  std::string line;
};

struct TreeCheck {
  std::vector<ListedEntry> folders;
  std::vector<ListedEntry> files;
  Problems problems;  // empty when the tree may be published
};

// Applies every rule to the scanned tree, with `root` as the players' install root.
TreeCheck checkTree(const TreeScan& scan, std::string_view root);

// The limits on the number of files and of distinct digests.
void checkCounts(std::size_t files, std::size_t digests, Problems& out);

}  // namespace vestrel::publish
