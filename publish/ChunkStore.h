// The chunks a release serves its large files by (update/chunks/ChunkIndex.h): `make --chunks`
// cuts every listed file of at least kSmallestChunkedFile bytes, stores each chunk once under
// its name and writes each file's index; `check --key` holds a release's indexes and chunks to
// the files they stand for; `prune` removes what no release names any more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "publish/BuildLists.h"
#include "publish/Problem.h"
#include "update/lists/ReleaseFile.h"

namespace vestrel::publish {

// Cuts each large file of `hashed` (tree paths, as buildLists hashed them), stores the chunks
// the store lacks (written under a temporary name and renamed: a chunk under its name is
// always whole, and one already there is never written again), writes each file's index and
// names it in the file's release entry. False, with the problems in `out`, when a file
// changed since it was hashed or the store could not be written.
bool storeChunks(const std::string& tree, std::vector<HashedFile>& hashed, ChunkTotals& totals,
                 Problems& out);

// Holds every index `release` names, and every chunk those name, to the file each stands for:
// an index of the named size and SHA-256 whose chunks, each whole and of its name, make up the
// file's size and SHA-256. A difference for each that fails.
void checkChunks(const std::string& tree, const Release& release, Problems& out);

// Removes from the tree's store every chunk and index that `release` does not name and whose
// last change is more than `days` days old. False, with the reason in `why` and nothing
// removed, when an index the release names cannot be read (what it names would be lost).
bool pruneChunks(const std::string& tree, const Release& release, unsigned days,
                 std::size_t& removed, std::string& why);

}  // namespace vestrel::publish
