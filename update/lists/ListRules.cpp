#include "update/lists/ListRules.h"

#include <algorithm>
#include <map>

#include "platform/ListEncoding.h"
#include "support/HexText.h"
#include "support/Windows1251.h"
#include "update/InstallState.h"
#include "update/lists/ManifestLines.h"
#include "update/lists/ReleaseFile.h"

namespace vestrel {
namespace {

char asciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c;
}

// Calls `visit` with each folder `line` passes through (each part before a '/'), then with the
// whole line, until it returns true. True when it did.
template <typename Visit>
bool anyStep(std::string_view line, Visit visit) {
  for (std::size_t slash = line.find('/'); slash != std::string_view::npos;
       slash = line.find('/', slash + 1)) {
    if (visit(line.substr(0, slash))) {
      return true;
    }
  }
  return visit(line);
}

// Calls `onComponent` with each '/'-separated component of `line` until it returns false.
template <typename Visit>
bool eachComponent(std::string_view line, Visit onComponent) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = line.find('/', start);
    if (!onComponent(line.substr(start, end == std::string_view::npos ? end : end - start))) {
      return false;
    }
    if (end == std::string_view::npos) {
      return true;
    }
    start = end + 1;
  }
}

bool writableComponents(ListKind kind, std::string_view line) {
  return eachComponent(line, [kind](std::string_view name) {
    // A folder line may be blank or doubled at a '/': it still names a folder of the tree.
    if (name.empty()) {
      return kind == ListKind::Folders;
    }
    return !windowsNameFaults(name).any();
  });
}

bool isDigestLine(std::string_view line) {
  return isLowerHex(line, 32);
}

// Checks each line as it comes, and a file list's lines against each other.
class LineCheck {
 public:
  LineCheck(CheckedList& out, ListKind kind, std::string_view root, LineSpelling spelling)
      : out_(out), kind_(kind), root_(root), spelling_(spelling) {}

  bool operator()(const std::string& line) {
    const bool counted = kind_ != ListKind::Folders;
    std::string narrow = line;
    const bool spelled =
        spelling_ == LineSpelling::AsListed || platform::listLineToNarrow(line, narrow);
    if ((counted && out_.lines.size() >= kMaxListLines) || !spelled ||
        !acceptableListLine(kind_, root_, narrow)) {
      return refuse(line);
    }
    switch (placeInFileList(line)) {
      case Place::Refused:
        return refuse(line);
      case Place::Repeat:
        return true;  // the same bytes again name the same file: it is fetched once
      case Place::New:
        break;
    }
    out_.lines.push_back(std::move(narrow));
    return true;
  }

  // After the last line: no listed file lies below another, whatever their order.
  void finish() {
    if (!out_.accepted) {
      return;
    }
    for (const auto& [key, line] : localFiles_) {
      const bool below = anyStep(key, [&, &k = key](std::string_view step) {
        return step.size() < k.size() && localFiles_.count(std::string(step)) != 0;
      });
      if (below) {
        refuse(line);
        return;
      }
    }
  }

 private:
  bool refuse(const std::string& line) {
    out_.accepted = false;
    out_.refusedLine = line;
    return false;
  }

  // Where a line stands among a file list's lines: a file of its own, the very line again, or
  // a line that cannot be listed (one of the installer's own files, or another spelling of a
  // file already listed: another letter case, launcher.exe beside launcher_new.exe).
  enum class Place { New, Repeat, Refused };
  Place placeInFileList(const std::string& line) {
    if (kind_ != ListKind::Files) {
      return Place::New;
    }
    std::string key = localFileKey(line);
    if (isOwnFile(key)) {
      return Place::Refused;
    }
    const auto [at, added] = localFiles_.emplace(std::move(key), line);
    return added ? Place::New : at->second == line ? Place::Repeat : Place::Refused;
  }

  CheckedList& out_;
  ListKind kind_;
  std::string_view root_;
  LineSpelling spelling_;
  std::map<std::string, std::string> localFiles_;  // local file key -> its line
};

CheckedList finished(CheckedList& out) {
  if (!out.accepted) {
    out.lines.clear();
  }
  return std::move(out);
}

}  // namespace

const char* listFileName(ListKind kind) {
  switch (kind) {
    case ListKind::Folders:
      return kFolderListName;
    case ListKind::Files:
      return kFileListName;
    case ListKind::Digests:
      break;
  }
  return kDigestListName;
}

bool isListFileName(std::string_view name) {
  return std::find(kOwnNamesInAnyFolder.begin(), kOwnNamesInAnyFolder.end(), name) !=
         kOwnNamesInAnyFolder.end();
}

bool leavesInstallRoot(std::string_view line) {
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find_first_of("/\\", start);
    if (end == std::string_view::npos) {
      end = line.size();
    }
    if (line.substr(start, end - start) == "..") {
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool hasControlByte(std::string_view line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      return true;
    }
  }
  return false;
}

NameFaults windowsNameFaults(std::string_view name) {
  NameFaults faults;
  faults.controlByte = hasControlByte(name);
  faults.backslash = name.find('\\') != std::string_view::npos;
  const std::size_t forbidden = name.find_first_of("<>:\"|?*");
  faults.forbidden = forbidden == std::string_view::npos ? 0 : name[forbidden];
  faults.trailingDotOrSpace = !name.empty() && (name.back() == '.' || name.back() == ' ');
  faults.reserved = isReservedName(name);
  return faults;
}

bool isReservedName(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  // Windows also drops the spaces that end the base name ("CON .txt").
  while (!base.empty() && base.back() == ' ') {
    base.pop_back();
  }
  for (char& c : base) {
    c = asciiUpper(c);
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

std::string_view storedFileLine(std::string_view line) {
  return line == "launcher.exe" ? "launcher_new.exe" : line;
}

std::string localFileKey(std::string_view listedLine) {
  return foldCase(windows1251ToUtf8(storedFileLine(listedLine)));
}

bool releaseListsAgree(const std::vector<std::string>& folders,
                       const std::vector<std::string>& files,
                       const std::vector<std::string>& digests, ListKind& refusedList,
                       std::string& refusedLine) {
  if (!files.empty() && digests.empty()) {
    refusedList = ListKind::Digests;
    refusedLine.clear();
    return false;
  }
  std::map<std::string, const std::string*> fileKeys;
  for (const std::string& line : files) {
    fileKeys.emplace(foldCase(line), &line);
  }
  for (const std::string& folder : folders) {
    const std::string key = foldCase(folder);
    const std::string* clash = nullptr;
    anyStep(key, [&](std::string_view step) {
      const auto found = fileKeys.find(std::string(step));
      clash = found == fileKeys.end() ? nullptr : found->second;
      return clash != nullptr;
    });
    if (clash != nullptr) {
      refusedList = ListKind::Files;
      refusedLine = *clash;
      return false;
    }
  }
  return true;
}

std::size_t composedPathBytes(ListKind kind, std::string_view root, std::string_view line) {
  switch (kind) {
    case ListKind::Folders:
      return root.size() + 1 + line.size();
    case ListKind::Files:
      return root.size() + line.size();
    case ListKind::Digests:
      break;
  }
  return 0;
}

bool acceptableListLine(ListKind kind, std::string_view root, std::string_view line) {
  if (line.size() > kMaxListLineBytes || hasControlByte(line)) {
    return false;
  }
  switch (kind) {
    case ListKind::Folders:
    case ListKind::Files:
      return !leavesInstallRoot(line) && writableComponents(kind, line) &&
             composedPathBytes(kind, root, line) < kPathBufferSize;
    case ListKind::Digests:
      break;
  }
  return isDigestLine(line);
}

CheckedList readCheckedList(const std::string& narrowPath, ListKind kind, std::string_view root,
                            LineSpelling spelling) {
  CheckedList out;
  LineCheck check(out, kind, root, spelling);
  std::string longLine;
  if (readListLines(narrowPath, std::ref(check), &longLine) == ListRead::LineTooLong) {
    out.accepted = false;
    out.refusedLine = std::move(longLine);
  }
  check.finish();
  return finished(out);
}

CheckedList checkListText(std::string_view body, ListKind kind, std::string_view root,
                          LineSpelling spelling) {
  CheckedList out;
  LineCheck check(out, kind, root, spelling);
  ListLineSplitter splitter(std::ref(check));
  if (splitter.feed(body.data(), body.size())) {
    splitter.finish();
  }
  if (splitter.stoppedOnLongLine()) {
    out.accepted = false;
    out.refusedLine = splitter.longLineStart();
  }
  check.finish();
  return finished(out);
}

std::string printableListLine(std::string_view line) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : line.substr(0, 200)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace vestrel
