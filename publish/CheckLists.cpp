#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "platform/ListEncoding.h"
#include "publish/Commands.h"
#include "publish/ListWriter.h"
#include "publish/Progress.h"
#include "publish/TreeScan.h"
#include "support/Windows1251.h"
#include "update/FileDigest.h"
#include "update/ListRules.h"

namespace vestrel::publish {
namespace {

namespace fs = std::filesystem;

// A list as the installer would take it, or nothing when it would refuse it.
bool readList(const std::string& tree, ListKind kind, std::string_view root,
              std::set<std::string>& lines, Problems& out) {
  const std::string path = tree + "/" + listPath(kind);
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (status.type() == fs::file_type::not_found) {
    out.push_back({listPath(kind), Rule::ListMissing, {}});
    return false;
  }
  if (status.type() != fs::file_type::regular) {
    out.push_back({listPath(kind), Rule::ListRefused, "not a regular file"});
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, error);
  if (error || size > kMaxListBytes) {
    out.push_back({listPath(kind), Rule::ListTooLarge,
                   error ? error.message()
                         : std::to_string(size) + " bytes, the installer takes at most " +
                               std::to_string(kMaxListBytes)});
    return false;
  }
  // The reader takes a list it cannot open for an empty one; here that is said as it is,
  // rather than as every line of the tree missing from the list.
  if (std::FILE* const probe = std::fopen(path.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    out.push_back({listPath(kind), Rule::Unreadable, std::strerror(errno)});
    return false;
  }
  // The limits as the players' Windows installers apply them, to the lines as listed; the
  // lines are then compared with the tree in this system's own spelling.
  CheckedList list = readCheckedList(path, kind, root, LineSpelling::AsListed);
  if (!list.accepted) {
    out.push_back({listPath(kind), Rule::ListRefused,
                   "at the line \"" + printableListLine(list.refusedLine) + "\""});
    return false;
  }
  for (const std::string& listed : list.lines) {
    std::string narrow;
    if (!platform::listLineToNarrow(listed, narrow)) {
      out.push_back(
          {listPath(kind), Rule::ListRefused, "at the line \"" + printableListLine(listed) + "\""});
      return false;
    }
    lines.insert(std::move(narrow));
  }
  return true;
}

// The tree's folders or files by list line as the installer reads it back (in its narrow
// text), each with its entry.
using TreeLines = std::map<std::string, const TreeEntry*>;

// Compares one kind of path: every path of the tree listed, every listed path in the tree.
void compare(const TreeLines& inTree, const std::set<std::string>& listed, Problems& out) {
  for (const auto& [line, entry] : inTree) {
    if (listed.count(line) == 0) {
      out.push_back({entry->path, Rule::NotListed, {}});
    }
  }
  for (const std::string& line : listed) {
    if (inTree.count(line) == 0) {
      out.push_back({line, Rule::ListedButMissing, {}});
    }
  }
}

// The tree's own list lines, with what hashing the listed files will cost.
struct TreeSide {
  TreeLines folders;
  TreeLines files;
  std::size_t toHash = 0;
  std::uintmax_t bytes = 0;
};

TreeSide treeSide(const TreeScan& scan, const std::set<std::string>& listedFiles, Problems& out) {
  TreeSide side;
  for (const TreeEntry& entry : scan.entries) {
    if (entry.kind == EntryKind::SymbolicLink || entry.kind == EntryKind::Other) {
      out.push_back({entry.path,
                     entry.kind == EntryKind::SymbolicLink ? Rule::SymbolicLink : Rule::NotRegular,
                     {}});
      continue;
    }
    std::string spelled;
    std::string why;
    if (!utf8ToWindows1251(entry.path.substr(entry.nameAt), spelled, &why)) {
      out.push_back({entry.path, Rule::NotWindows1251, why});
      continue;
    }
    std::string line;
    if (!utf8ToWindows1251(entry.path, spelled) || !platform::listLineToNarrow(spelled, line)) {
      continue;  // a folder on its path has no list line: reported there
    }
    if (entry.kind == EntryKind::Folder) {
      side.folders.emplace(line, &entry);
    } else {
      side.files.emplace(line, &entry);
      if (listedFiles.count(line) != 0) {
        ++side.toHash;
        side.bytes += entry.size;
      }
    }
  }
  return side;
}

// Hashes every listed file of the tree against the digest list (`digestsRead`: whether
// there is one to compare with).
void checkDigests(const std::string& tree, const TreeSide& side,
                  const std::set<std::string>& listedFiles,
                  const std::set<std::string>& listedDigests, bool digestsRead,
                  const Options& options, Problems& out) {
  std::set<std::string> used;
  HashProgress progress(stderr, options.progress, side.toHash, side.bytes);
  for (const auto& [line, entry] : side.files) {
    if (listedFiles.count(line) == 0) {
      continue;
    }
    std::string digest;
    std::string error;
    if (!digestFile(tree + "/" + entry->path, digest, error,
                    [&progress](std::size_t got) { progress.addBytes(got); })) {
      out.push_back({entry->path, Rule::Unreadable, error});
    } else {
      if (digestsRead && listedDigests.count(digest) == 0) {
        out.push_back({entry->path, Rule::DigestNotListed, digest});
      }
      used.insert(digest);
    }
    progress.fileDone();
  }
  progress.finish();
  if (digestsRead) {
    for (const std::string& digest : listedDigests) {
      if (used.count(digest) == 0) {
        out.push_back({listPath(ListKind::Digests), Rule::DigestUnused, digest});
      }
    }
  }
}

}  // namespace

CheckResult checkLists(const std::string& tree, const Options& options) {
  CheckResult result;
  Problems& out = result.differences;
  const std::string root = budgetRoot(options.rootBudget);

  const TreeScan scan = scanTree(tree);
  if (!scan.problems.empty() && scan.problems.front().path.empty()) {
    out = scan.problems;  // not a folder: there is nothing to compare
    return result;
  }

  std::array<std::set<std::string>, kListKinds.size()> lists;
  std::array<bool, kListKinds.size()> read{};
  for (std::size_t i = 0; i < kListKinds.size(); ++i) {
    read[i] = readList(tree, kListKinds[i], root, lists[i], out);
  }
  const auto& [foldersRead, filesRead, digestsRead] = read;
  const auto& [listedFolders, listedFiles, listedDigests] = lists;

  out.insert(out.end(), scan.problems.begin(), scan.problems.end());
  const TreeSide side = treeSide(scan, listedFiles, out);
  // An unreadable list has been reported; comparing with it would only repeat that once
  // for every path.
  if (foldersRead) {
    compare(side.folders, listedFolders, out);
  }
  if (filesRead) {
    compare(side.files, listedFiles, out);
    checkDigests(tree, side, listedFiles, listedDigests, digestsRead, options, out);
  }
  result.consistent = out.empty();
  return result;
}

}  // namespace vestrel::publish
