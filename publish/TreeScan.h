// Walking the publisher's tree.
//
// Nothing is followed: a symbolic link is reported as one, whatever it points at, so that the
// lists only ever name what the tree itself holds. The lists' own folder, ".launcher" at the
// top, is not part of the published tree and is passed over.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "publish/Problem.h"

namespace vestrel::publish {

// The folder, beside the published files, that holds the lists.
inline constexpr char kListFolder[] = ".launcher";

enum class EntryKind { Folder, File, SymbolicLink, Other };

struct TreeEntry {
  std::string path;    // relative to the tree, '/'-separated, the bytes the tree names it by
  std::size_t nameAt;  // where its last component starts in `path`
  EntryKind kind;
  std::uintmax_t size;                         // files only
  std::filesystem::file_time_type modified{};  // files only
};

struct TreeScan {
  // Every entry; a folder comes before its contents, and the entries of one folder are in
  // byte order.
  std::vector<TreeEntry> entries;
  Problems problems;  // folders that could not be listed, entries that could not be examined
};

// Walks the folder `tree`. A `tree` that is not a readable folder yields one problem.
TreeScan scanTree(const std::string& tree);

// True when the file at `full`, scanned as `entry`, has another size or time of change now,
// or cannot be examined: what was read of it may be of neither version.
bool changedSinceScan(const TreeEntry& entry, const std::string& full);

}  // namespace vestrel::publish
