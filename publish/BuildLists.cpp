#include "publish/BuildLists.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include "publish/Progress.h"
#include "publish/PublishRules.h"
#include "publish/TreeScan.h"
#include "update/digest/FileDigest.h"

namespace vestrel::publish {
namespace {

// Hashes each file into `out.digests` and `out.hashed`, reading it once for both digests; a
// file that cannot be read, or that changed while it was, gets a problem instead.
void hashFiles(const std::string& tree, const std::vector<ListedEntry>& files,
               const Options& options, BuiltLists& out) {
  std::uintmax_t bytes = 0;
  for (const ListedEntry& file : files) {
    bytes += file.entry->size;
  }
  HashProgress progress(stderr, options.progress, files.size(), bytes);
  for (const ListedEntry& file : files) {
    FileDigests digests;
    std::string error;
    const std::string full = tree + "/" + file.entry->path;
    if (!digestFileBoth(full, digests, error,
                        [&progress](std::size_t got) { progress.addBytes(got); })) {
      out.problems.push_back({file.entry->path, Rule::Unreadable, error});
    } else if (changedSinceScan(*file.entry, full)) {
      // Its digest may be of no version of it that the players would ever get.
      out.problems.push_back({file.entry->path, Rule::ChangedWhileHashed, {}});
    } else {
      out.digests.emplace(file.entry->path, digests.md5);
      out.hashed.push_back(
          {file.entry->path, {file.line, digests.size, digests.sha256, std::move(digests.md5)}});
    }
    progress.fileDone();
  }
}

std::vector<std::string> linesOf(const std::vector<ListedEntry>& entries) {
  std::vector<std::string> lines;
  lines.reserve(entries.size());
  for (const ListedEntry& entry : entries) {
    lines.push_back(entry.line);
  }
  return lines;
}

bool isFile(const TreeEntry& entry) {
  return entry.kind == EntryKind::File;
}

}  // namespace

BuiltLists buildLists(const std::string& tree, const Options& options, OnRefusal onRefusal) {
  BuiltLists out;
  const TreeScan scan = scanTree(tree);
  if (std::any_of(scan.problems.begin(), scan.problems.end(),
                  [](const Problem& problem) { return problem.path.empty(); })) {
    out.problems = scan.problems;
    return out;
  }
  out.treeRead = true;
  TreeCheck check = checkTree(scan, budgetRoot(options.rootBudget));
  out.problems = std::move(check.problems);
  out.folders = check.folders.size();
  out.files = check.files.size();
  // Hashing is the long part: for a tree that cannot be published it is worth it only when
  // the rest of the tree is to be compared.
  if (!out.problems.empty() && onRefusal == OnRefusal::Stop) {
    return out;
  }
  hashFiles(tree, check.files, options, out);
  // The file list's order: its lines sorted by their bytes, each line once.
  std::sort(out.hashed.begin(), out.hashed.end(), [](const HashedFile& a, const HashedFile& b) {
    return a.released.line < b.released.line;
  });
  std::set<std::string> distinct;
  for (const auto& [path, digest] : out.digests) {
    distinct.insert(digest);
  }
  // The file count was held to its limit with the rules.
  checkCounts(0, distinct.size(), out.problems);
  out.distinctDigests = distinct.size();
  const auto regularFiles =
      static_cast<std::size_t>(std::count_if(scan.entries.begin(), scan.entries.end(), isFile));
  out.everyFileHashed = scan.problems.empty() && out.digests.size() == regularFiles;
  out.bodies = {listBody(linesOf(check.folders)), listBody(linesOf(check.files)),
                listBody({distinct.begin(), distinct.end()})};
  return out;
}

}  // namespace vestrel::publish
