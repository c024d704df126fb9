#include "publish/PublishRules.h"

#include <map>
#include <set>
#include <utility>

#include "support/LocalPaths.h"
#include "support/Windows1251.h"
#include "update/lists/ListRules.h"

namespace vestrel::publish {
namespace {

char asciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c;
}

// The rules on one name, whatever the entry is. True when the name passed them all.
bool checkName(const TreeEntry& entry, Problems& out) {
  const std::string_view name = std::string_view(entry.path).substr(entry.nameAt);
  const std::size_t before = out.size();
  const NameFaults faults = windowsNameFaults(name);
  if (faults.controlByte) {
    out.push_back({entry.path, Rule::ControlByte, {}});
  }
  if (faults.backslash) {
    out.push_back({entry.path, Rule::Backslash, "a folder separator on Windows"});
  }
  if (faults.forbidden != 0) {
    out.push_back({entry.path, Rule::ForbiddenCharacter, std::string(1, faults.forbidden)});
  }
  if (faults.trailingDotOrSpace) {
    out.push_back({entry.path, Rule::TrailingDotOrSpace, "Windows drops it"});
  }
  if (faults.reserved) {
    out.push_back({entry.path, Rule::ReservedName, "a device name"});
  }
  std::string spelled;
  std::string why;
  if (!utf8ToWindows1251(name, spelled, &why)) {
    out.push_back({entry.path, Rule::NotWindows1251, why});
  }
  if (entry.kind == EntryKind::File && isListFileName(name)) {
    out.push_back({entry.path, Rule::ListFileName, "the installer's check passes over it"});
  } else if (entry.kind == EntryKind::File && isOwnFile(foldCase(entry.path))) {
    out.push_back({entry.path, Rule::InstallerFileName, "the installer writes a file so named"});
  }
  return out.size() == before;
}

// The kind of entry: folders and regular files only.
bool checkKind(const TreeEntry& entry, Problems& out) {
  switch (entry.kind) {
    case EntryKind::Folder:
    case EntryKind::File:
      return true;
    case EntryKind::SymbolicLink:
      out.push_back({entry.path, Rule::SymbolicLink, "publish the file or folder itself"});
      return false;
    case EntryKind::Other:
      break;
  }
  out.push_back({entry.path, Rule::NotRegular, {}});
  return false;
}

// The installer's own line rules on the entry's list line. Once every name on the path has
// passed, only the length can fail them.
bool checkLine(const TreeEntry& entry, ListKind kind, const std::string& line,
               std::string_view root, Problems& out) {
  if (acceptableListLine(kind, root, line)) {
    return true;
  }
  const std::size_t composed = composedPathBytes(kind, root, line);
  out.push_back({entry.path, Rule::PathTooLong,
                 std::to_string(composed) + " bytes in Windows-1251 under an install folder of " +
                     std::to_string(root.size()) + " bytes, more than " +
                     std::to_string(kPathBufferSize - 1)});
  return false;
}

void checkCaseClashes(const std::vector<TreeEntry>& entries, Problems& out) {
  std::map<std::pair<std::string, std::u32string>, const TreeEntry*> seen;
  for (const TreeEntry& entry : entries) {
    const std::string_view path(entry.path);
    // Files are compared as they are stored: the root's launcher.exe as launcher_new.exe.
    const std::string_view name = entry.kind == EntryKind::File
                                      ? storedFileLine(path).substr(entry.nameAt)
                                      : path.substr(entry.nameAt);
    auto key = std::make_pair(std::string(path.substr(0, entry.nameAt)), caseKey(name));
    const auto [slot, fresh] = seen.emplace(std::move(key), &entry);
    if (!fresh) {
      out.push_back({entry.path, Rule::CaseClash, slot->second->path});
    }
  }
}

}  // namespace

std::string budgetRoot(std::size_t budget) {
  std::string root(budget > 0 ? budget - 1 : 0, 'r');
  return root + '/';
}

std::u32string caseKey(std::string_view utf8Name) {
  std::u32string key;
  if (!decodeUtf8(utf8Name, key)) {
    // Such a name is refused anyway; its bytes, outside the code point range, still make a
    // key that no valid name shares.
    key.clear();
    for (const char c : utf8Name) {
      key += static_cast<char32_t>(0x110000 + static_cast<unsigned char>(asciiUpper(c)));
    }
    return key;
  }
  for (char32_t& c : key) {
    c = foldLetter(c);
  }
  return key;
}

TreeCheck checkTree(const TreeScan& scan, std::string_view root) {
  TreeCheck out;
  out.problems = scan.problems;
  std::size_t fileCount = 0;
  // Folders whose name or path broke a rule: that is reported once, at the folder, and not
  // again for everything below it.
  std::set<std::string> refusedFolders;
  for (const TreeEntry& entry : scan.entries) {
    const bool kindOk = checkKind(entry, out.problems);
    const bool nameOk = checkName(entry, out.problems);
    if (!kindOk) {
      continue;
    }
    fileCount += entry.kind == EntryKind::File ? 1 : 0;
    const bool parentOk =
        entry.nameAt == 0 || refusedFolders.count(entry.path.substr(0, entry.nameAt - 1)) == 0;
    std::string line;
    if (!nameOk || !parentOk || !utf8ToWindows1251(entry.path, line)) {
      if (entry.kind == EntryKind::Folder) {
        refusedFolders.insert(entry.path);
      }
      continue;
    }
    const ListKind kind = entry.kind == EntryKind::Folder ? ListKind::Folders : ListKind::Files;
    if (!checkLine(entry, kind, line, root, out.problems) && kind == ListKind::Folders) {
      refusedFolders.insert(entry.path);
    }
    (kind == ListKind::Folders ? out.folders : out.files).push_back({&entry, std::move(line)});
  }
  checkCaseClashes(scan.entries, out.problems);
  checkCounts(fileCount, 0, out.problems);
  return out;
}

void checkCounts(std::size_t files, std::size_t digests, Problems& out) {
  const std::string limit = ", the lists hold at most " + std::to_string(kMaxListLines);
  if (files > kMaxListLines) {
    out.push_back({"", Rule::TooManyFiles, std::to_string(files) + " files" + limit});
  }
  if (digests > kMaxListLines) {
    out.push_back({"", Rule::TooManyDigests, std::to_string(digests) + " digests" + limit});
  }
}

}  // namespace vestrel::publish
