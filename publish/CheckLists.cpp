#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "platform/ListEncoding.h"
#include "publish/BuildLists.h"
#include "publish/Commands.h"
#include "publish/ListWriter.h"
#include "publish/Release.h"
#include "update/lists/ListRules.h"

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

// One of the tree's lists as read; `read` false when it has been reported instead, so that
// it is not also reported as every path missing.
struct ReadList {
  bool read = false;
  std::set<std::string> lines;
};

// The lines of an expected body in this system's spelling, as the listed lines are compared.
// A path line spells its tree path in Windows-1251, so it reads back as that path.
std::set<std::string> bodyLines(std::string_view body) {
  std::set<std::string> lines;
  for (std::size_t end = body.find('\n'); end != std::string_view::npos; end = body.find('\n')) {
    std::string narrow;
    platform::listLineToNarrow(body.substr(0, end), narrow);
    lines.insert(std::move(narrow));
    body.remove_prefix(end + 1);
  }
  return lines;
}

// True when `line`, or a folder on its way, is a path the tree's own problems name: what
// they kept out of the expected lists is reported there, not again as missing.
bool alreadyReported(const std::set<std::string>& reported, std::string_view line) {
  for (std::size_t end = line.size(); end != 0 && end != std::string_view::npos;
       end = line.rfind('/', end - 1)) {
    if (reported.count(std::string(line.substr(0, end))) != 0) {
      return true;
    }
  }
  return false;
}

// Every expected path listed, and every listed path expected.
void comparePaths(const std::string& body, const std::set<std::string>& listed,
                  const std::set<std::string>& reported, Problems& out) {
  const std::set<std::string> expected = bodyLines(body);
  for (const std::string& path : expected) {
    if (listed.count(path) == 0) {
      out.push_back({path, Rule::NotListed, {}});
    }
  }
  for (const std::string& line : listed) {
    if (expected.count(line) == 0 && !alreadyReported(reported, line)) {
      out.push_back({line, Rule::ListedButMissing, {}});
    }
  }
}

// Every hashed file's digest listed, and every listed digest one of the tree's.
void compareDigests(const BuiltLists& built, const std::string& body, const ReadList& files,
                    const ReadList& digests, Problems& out) {
  for (const auto& [path, digest] : built.digests) {
    // A file that a file list read leaves out is reported as not listed, once.
    if (digests.lines.count(digest) == 0 && (!files.read || files.lines.count(path) != 0)) {
      out.push_back({path, Rule::DigestNotListed, digest});
    }
  }
  // A listed digest may be that of a file that could not be hashed.
  if (!built.everyFileHashed) {
    return;
  }
  const std::set<std::string> expected = bodyLines(body);
  for (const std::string& digest : digests.lines) {
    if (expected.count(digest) == 0) {
      out.push_back({listPath(ListKind::Digests), Rule::DigestUnused, digest});
    }
  }
}

}  // namespace

CheckResult checkLists(const std::string& tree, const Options& options) {
  CheckResult result;
  Problems& out = result.differences;
  // The tree is held to every rule as `make` holds it; what passed is still compared.
  const BuiltLists built = buildLists(tree, options, OnRefusal::Continue);
  if (!built.treeRead) {
    out = built.problems;  // not a folder: there is nothing to compare
    return result;
  }

  const std::string root = budgetRoot(options.rootBudget);
  std::array<ReadList, kListKinds.size()> lists;
  for (std::size_t i = 0; i < kListKinds.size(); ++i) {
    lists[i].read = readList(tree, kListKinds[i], root, lists[i].lines, out);
  }
  const auto& [folders, files, digests] = lists;
  const auto& [folderBody, fileBody, digestBody] = built.bodies;

  out.insert(out.end(), built.problems.begin(), built.problems.end());
  std::set<std::string> reported;
  for (const Problem& problem : built.problems) {
    if (!problem.path.empty()) {
      reported.insert(problem.path);
    }
  }
  if (folders.read) {
    comparePaths(folderBody, folders.lines, reported, out);
  }
  if (files.read) {
    comparePaths(fileBody, files.lines, reported, out);
  }
  if (digests.read) {
    compareDigests(built, digestBody, files, digests, out);
  }
  if (!options.release.publicKey.empty()) {
    checkRelease(tree, built, options.release.publicKey, out);
  }
  result.consistent = out.empty();
  return result;
}

}  // namespace vestrel::publish
