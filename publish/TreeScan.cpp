#include "publish/TreeScan.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vestrel::publish {
namespace {

namespace fs = std::filesystem;

struct Walker {
  fs::path top;
  TreeScan& scan;

  void walk(const std::string& relative) {
    const fs::path folder = relative.empty() ? top : top / relative;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    std::vector<std::string> names;
    while (!error && it != fs::directory_iterator()) {
      names.push_back(it->path().filename().native());
      it.increment(error);
    }
    if (error) {
      scan.problems.push_back({relative, Rule::Unreadable, error.message()});
      return;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (relative.empty() && name == kListFolder) {
        continue;
      }
      visit(relative.empty() ? name : relative + "/" + name,
            relative.empty() ? 0 : relative.size() + 1);
    }
  }

  void visit(const std::string& path, std::size_t nameAt) {
    std::error_code error;
    const fs::path full = top / path;
    const fs::file_status status = fs::symlink_status(full, error);
    if (error) {
      scan.problems.push_back({path, Rule::Unreadable, error.message()});
      return;
    }
    TreeEntry entry{path, nameAt, EntryKind::Other, 0};
    switch (status.type()) {
      case fs::file_type::directory:
        entry.kind = EntryKind::Folder;
        break;
      case fs::file_type::regular:
        entry.kind = EntryKind::File;
        entry.size = fs::file_size(full, error);
        if (!error) {
          entry.modified = fs::last_write_time(full, error);
        }
        if (error) {
          scan.problems.push_back({path, Rule::Unreadable, error.message()});
          return;
        }
        break;
      case fs::file_type::symlink:
        entry.kind = EntryKind::SymbolicLink;
        break;
      default:
        break;
    }
    scan.entries.push_back(entry);
    if (entry.kind == EntryKind::Folder) {
      walk(path);
    }
  }
};

}  // namespace

TreeScan scanTree(const std::string& tree) {
  TreeScan scan;
  std::error_code error;
  if (!fs::is_directory(fs::path(tree), error)) {
    scan.problems.push_back({"", Rule::Unreadable, error ? error.message() : "not a folder"});
    return scan;
  }
  Walker{fs::path(tree), scan}.walk("");
  return scan;
}

bool changedSinceScan(const TreeEntry& entry, const std::string& full) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(full, error);
  const fs::file_time_type modified =
      error ? fs::file_time_type{} : fs::last_write_time(full, error);
  return error || size != entry.size || modified != entry.modified;
}

}  // namespace vestrel::publish
