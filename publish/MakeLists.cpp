#include <cstdint>
#include <cstdio>
#include <set>
#include <vector>

#include "publish/Commands.h"
#include "publish/ListWriter.h"
#include "publish/Progress.h"
#include "publish/TreeScan.h"
#include "update/FileDigest.h"

namespace vestrel::publish {

MakeResult makeLists(const std::string& tree, const Options& options) {
  MakeResult result;
  const std::string root = budgetRoot(options.rootBudget);
  const TreeScan scan = scanTree(tree);
  TreeCheck check = checkTree(scan, root);
  if (!check.problems.empty()) {
    result.problems = std::move(check.problems);
    return result;
  }

  // Hashing is the long part, so it starts only once every other rule has passed.
  std::uintmax_t bytes = 0;
  for (const ListedEntry& file : check.files) {
    bytes += file.entry->size;
  }
  std::set<std::string> digests;
  {
    HashProgress progress(stderr, options.progress, check.files.size(), bytes);
    for (const ListedEntry& file : check.files) {
      std::string digest;
      std::string error;
      const std::string full = tree + "/" + file.entry->path;
      if (!digestFile(full, digest, error,
                      [&progress](std::size_t got) { progress.addBytes(got); })) {
        result.problems.push_back({file.entry->path, Rule::Unreadable, error});
      } else if (changedSinceScan(*file.entry, full)) {
        // Its digest may be of no version of it that the players would ever get.
        result.problems.push_back({file.entry->path, Rule::ChangedWhileHashed, {}});
      } else {
        digests.insert(digest);
      }
      progress.fileDone();
    }
  }
  checkCounts(check.files.size(), digests.size(), result.problems);
  if (!result.problems.empty()) {
    return result;
  }

  std::vector<std::string> folderLines;
  std::vector<std::string> fileLines;
  for (const ListedEntry& folder : check.folders) {
    folderLines.push_back(folder.line);
  }
  for (const ListedEntry& file : check.files) {
    fileLines.push_back(file.line);
  }
  const ListBodies bodies = {listBody(std::move(folderLines)), listBody(std::move(fileLines)),
                             listBody({digests.begin(), digests.end()})};
  if (!verifyBodies(bodies, root, result.problems) || !writeLists(tree, bodies, result.problems)) {
    return result;
  }
  result.written = true;
  result.folders = check.folders.size();
  result.files = check.files.size();
  result.digests = digests.size();
  return result;
}

}  // namespace vestrel::publish
