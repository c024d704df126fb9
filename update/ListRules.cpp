#include "update/ListRules.h"

#include "platform/ListEncoding.h"
#include "update/InstallState.h"
#include "update/ManifestLines.h"

namespace vestrel {
namespace {

// Collects accepted lines, as narrow text, and remembers the first refused one as it came.
ListLineSplitter::LineHandler collector(CheckedList& out, ListKind kind, std::string_view root,
                                        LineSpelling spelling) {
  return [&out, kind, root, spelling](const std::string& line) {
    const bool counted = kind != ListKind::Folders;
    std::string narrow = line;
    const bool spelled =
        spelling == LineSpelling::AsListed || platform::listLineToNarrow(line, narrow);
    if ((counted && out.lines.size() >= kMaxListLines) || !spelled ||
        !acceptableListLine(kind, root, narrow)) {
      out.accepted = false;
      out.refusedLine = line;
      return false;
    }
    out.lines.push_back(std::move(narrow));
    return true;
  };
}

}  // namespace

const char* listFileName(ListKind kind) {
  switch (kind) {
    case ListKind::Folders:
      return "udirs.lists";
    case ListKind::Files:
      return "ufile.lists";
    case ListKind::Digests:
      break;
  }
  return "uhash.lists";
}

bool isListFileName(std::string_view name) {
  for (const ListKind kind : {ListKind::Folders, ListKind::Files, ListKind::Digests}) {
    if (name == listFileName(kind)) {
      return true;
    }
  }
  return false;
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
      return !leavesInstallRoot(line) && composedPathBytes(kind, root, line) < kPathBufferSize;
    case ListKind::Files:
      return !line.empty() && line.back() != '/' && !leavesInstallRoot(line) &&
             composedPathBytes(kind, root, line) < kPathBufferSize;
    case ListKind::Digests:
      break;
  }
  return true;
}

CheckedList readCheckedList(const std::string& narrowPath, ListKind kind, std::string_view root,
                            LineSpelling spelling) {
  CheckedList out;
  std::string longLine;
  if (readListLines(narrowPath, collector(out, kind, root, spelling), &longLine) ==
      ListRead::LineTooLong) {
    out.accepted = false;
    out.refusedLine = std::move(longLine);
  }
  if (!out.accepted) {
    out.lines.clear();
  }
  return out;
}

CheckedList checkListText(std::string_view body, ListKind kind, std::string_view root,
                          LineSpelling spelling) {
  CheckedList out;
  ListLineSplitter splitter(collector(out, kind, root, spelling));
  if (splitter.feed(body.data(), body.size())) {
    splitter.finish();
  }
  if (splitter.stoppedOnLongLine()) {
    out.accepted = false;
    out.refusedLine = splitter.longLineStart();
  }
  if (!out.accepted) {
    out.lines.clear();
  }
  return out;
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
