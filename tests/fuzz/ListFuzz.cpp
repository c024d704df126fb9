// Feeds arbitrary bytes, as a hostile server could send them, through the list reader and
// every list rule, and traps on any broken promise.
//
// Input layout: byte 0 picks the list kind and the install root, byte 1 seeds how the body is
// cut into pieces and whether a reader gives up early; the rest is the list body.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/Windows1251.h"
#include "update/InstallState.h"
#include "update/lists/ListRules.h"
#include "update/lists/ManifestLines.h"
#include "update/lists/OwnFiles.h"

namespace {

using vestrel::CheckedList;
using vestrel::kMaxListLineBytes;
using vestrel::kMaxListLines;
using vestrel::kPathBufferSize;
using vestrel::ListKind;
using vestrel::ListLineSplitter;
using Lines = std::vector<std::string>;

#define CHECK(cond)                                                                        \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "list fuzz invariant broken: %s (line %d)\n", #cond, __LINE__); \
      __builtin_trap();                                                                    \
    }                                                                                      \
  } while (false)

// Roots around the interesting lengths: none, the shortest real one, a usual one, a long one,
// and one that leaves room for a single byte of a file name.
const std::string& rootFor(unsigned pick) {
  static const std::string roots[] = {
      "",
      "/",
      "/games/vestrel/",
      "/home/" + std::string(190, 'r') + "/vestrel/",
      "/" + std::string(kPathBufferSize - 4, 'q') + "/",
  };
  return roots[pick % (sizeof roots / sizeof roots[0])];
}

// The line rules as the text states them, written out independently of the product code.
bool controlByteIn(std::string_view line) {
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
      return true;
    }
  }
  return false;
}

bool dotDotComponentIn(std::string_view line) {
  std::string component;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == '/' || line[i] == '\\') {
      if (component == "..") {
        return true;
      }
      component.clear();
    } else {
      component += line[i];
    }
  }
  return false;
}

Lines componentsOf(std::string_view line) {
  Lines out(1);
  for (const char c : line) {
    if (c == '/') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

// A name Windows can create: none of its forbidden characters, no final dot or space, no
// device name (whatever follows a dot, and spaces before it, are ignored for that).
bool windowsName(const std::string& name) {
  if (name.find_first_of("\\<>:\"|?*") != std::string::npos || name.back() == '.' ||
      name.back() == ' ') {
    return false;
  }
  std::string device = name.substr(0, name.find('.'));
  device.erase(device.find_last_not_of(' ') + 1);
  for (char& c : device) {
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  static const Lines devices = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  return std::find(devices.begin(), devices.end(), device) == devices.end();
}

bool windowsPath(ListKind kind, std::string_view line) {
  for (const std::string& name : componentsOf(line)) {
    if (name.empty() ? kind == ListKind::Files : !windowsName(name)) {
      return false;
    }
  }
  return true;
}

bool lineUsable(ListKind kind, std::string_view root, std::string_view line) {
  if (line.size() > kMaxListLineBytes || controlByteIn(line)) {
    return false;
  }
  if (kind == ListKind::Folders) {
    return !dotDotComponentIn(line) && windowsPath(kind, line) &&
           root.size() + 1 + line.size() <= kPathBufferSize - 1;
  }
  if (kind == ListKind::Files) {
    return !dotDotComponentIn(line) && windowsPath(kind, line) &&
           root.size() + line.size() <= kPathBufferSize - 1;
  }
  return line.size() == 32 && line.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The local file a file line names, as Windows compares names.
std::string localKey(const std::string& narrowLine) {
  return narrowLine == "launcher.exe" ? "launcher_new.exe" : vestrel::foldCase(narrowLine);
}

// The installer's own files are a fact the product keeps in one list, not a rule: the
// reference takes them from there.
bool installersOwn(const std::string& key) {
  const std::string name = componentsOf(key).back();
  const auto endsWith = [&name](std::string_view tail) {
    return name.size() >= tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  return key == vestrel::kLogFileName ||
         std::find(vestrel::kOwnNamesInAnyFolder.begin(), vestrel::kOwnNamesInAnyFolder.end(),
                   name) != vestrel::kOwnNamesInAnyFolder.end() ||
         endsWith(vestrel::kPartialSuffix) || endsWith(vestrel::kResumeSuffix);
}

// The plainest possible splitter: cut at LF, drop one CR right before it, no empty line after
// a final LF.
Lines referenceLines(std::string_view body) {
  Lines out;
  std::size_t start = 0;
  while (start < body.size()) {
    std::size_t end = body.find('\n', start);
    if (end == std::string_view::npos) {
      out.emplace_back(body.substr(start));
      break;
    }
    std::string_view line = body.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    out.emplace_back(line);
    start = end + 1;
  }
  return out;
}

// What reading the body must give, from the reference lines: lines are taken in order; the
// first over-long one stops the reading with its first kMaxListLineBytes + 1 bytes, the first
// one past the table size or breaking a rule refuses the list with that line. In a file list,
// a line that repeats a line taken, byte for byte, is taken no second time.
CheckedList expectedList(const Lines& lines, ListKind kind, std::string_view root) {
  CheckedList out;
  Lines keys;   // of the file lines taken, in order
  Lines taken;  // those lines as listed
  for (const std::string& line : lines) {
    const bool counted = kind != ListKind::Folders;
    // The lines are Windows-1251; on this system they are used as UTF-8.
    std::string narrow;
    const bool spelled = vestrel::windows1251ToUtf8(line, narrow);
    const bool repeat =
        kind == ListKind::Files && std::find(taken.begin(), taken.end(), line) != taken.end();
    if (line.size() > kMaxListLineBytes) {
      out.refusedLine = line.substr(0, kMaxListLineBytes + 1);
    } else if ((counted && out.lines.size() >= kMaxListLines) || !spelled ||
               !lineUsable(kind, root, narrow) ||
               (kind == ListKind::Files && !repeat &&
                (installersOwn(localKey(narrow)) ||
                 std::find(keys.begin(), keys.end(), localKey(narrow)) != keys.end()))) {
      out.refusedLine = line;
    } else {
      if (!repeat) {
        out.lines.push_back(narrow);
      }
      if (kind == ListKind::Files && !repeat) {
        keys.push_back(localKey(narrow));
        taken.push_back(line);
      }
      continue;
    }
    out.accepted = false;
    out.lines.clear();
    return out;
  }
  // A whole file list: no file lies inside another, whatever the order. The first line, in
  // the order of the keys, that lies below another is the one refused.
  std::vector<std::pair<std::string, std::string>> sorted;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    sorted.emplace_back(keys[i], taken[i]);
  }
  std::sort(sorted.begin(), sorted.end());
  for (const auto& [key, line] : sorted) {
    for (std::size_t slash = key.find('/'); slash != std::string::npos;
         slash = key.find('/', slash + 1)) {
      if (std::find(keys.begin(), keys.end(), key.substr(0, slash)) != keys.end()) {
        out.accepted = false;
        out.lines.clear();
        out.refusedLine = line;
        return out;
      }
    }
  }
  return out;
}

bool sameList(const CheckedList& a, const CheckedList& b) {
  return a.accepted == b.accepted && a.lines == b.lines && a.refusedLine == b.refusedLine;
}

void checkAcceptedLines(const CheckedList& list, ListKind kind, std::string_view root) {
  if (!list.accepted) {
    CHECK(list.lines.empty());
    CHECK(list.refusedLine.size() <= kMaxListLineBytes + 1);
    return;
  }
  CHECK(list.refusedLine.empty());
  if (kind != ListKind::Folders) {
    CHECK(list.lines.size() <= kMaxListLines);
  }
  for (const std::string& line : list.lines) {
    CHECK(line.size() <= kMaxListLineBytes);
    CHECK(!controlByteIn(line));
    if (kind == ListKind::Folders) {
      CHECK(root.size() + 1 + line.size() < kPathBufferSize);
      CHECK(!dotDotComponentIn(line));
    } else if (kind == ListKind::Files) {
      CHECK(root.size() + line.size() < kPathBufferSize);
      CHECK(!line.empty() && line.back() != '/');
      CHECK(!dotDotComponentIn(line));
      CHECK(!installersOwn(localKey(line)));
      CHECK(std::count_if(list.lines.begin(), list.lines.end(), [&](const std::string& other) {
              return localKey(other) == localKey(line);
            }) == 1);
    }
    if (kind != ListKind::Digests) {
      CHECK(windowsPath(kind, line));
    }
  }
}

// What one run of the splitter produced.
struct SplitResult {
  Lines lines;
  bool going = true;
  bool tooLong = false;
  std::string longStart;
};

// Feeds `body` in pieces of 1..maxPiece bytes (sizes drawn from `seed`; 0: all at once); the
// handler gives up after `stopAfter` lines (0: never). Checks what the splitter promises on every
// call.
SplitResult splitInPieces(std::string_view body, std::size_t maxPiece, std::uint32_t seed,
                          std::size_t stopAfter) {
  SplitResult out;
  bool stopped = false;
  ListLineSplitter splitter([&](const std::string& line) {
    CHECK(!stopped);  // no line after the handler said stop
    CHECK(line.size() <= kMaxListLineBytes);
    out.lines.push_back(line);
    stopped = stopAfter != 0 && out.lines.size() >= stopAfter;
    return !stopped;
  });
  std::minstd_rand pieces(seed + 1);
  std::size_t at = 0;
  while (at < body.size()) {
    const std::size_t rest = body.size() - at;
    const std::size_t piece =
        maxPiece == 0 ? rest : std::min<std::size_t>(1 + pieces() % maxPiece, rest);
    const bool going = splitter.feed(body.data() + at, piece);
    // However long the pending line, only one short line is ever held.
    CHECK(splitter.longLineStart().size() <= kMaxListLineBytes + 1);
    at += piece;
    if (!going) {
      // Once stopped, further input changes nothing.
      const std::size_t seen = out.lines.size();
      CHECK(!splitter.feed("x\ny\n", 4));
      CHECK(out.lines.size() == seen);
      out.going = false;
      break;
    }
  }
  if (out.going) {
    out.going = splitter.finish();
  } else {
    CHECK(!splitter.finish());
  }
  out.tooLong = splitter.stoppedOnLongLine();
  if (out.tooLong) {
    out.longStart = splitter.longLineStart();
    CHECK(!out.going);
    CHECK(out.longStart.size() <= kMaxListLineBytes + 1);
  }
  return out;
}

bool sameSplit(const SplitResult& a, const SplitResult& b) {
  return a.lines == b.lines && a.going == b.going && a.tooLong == b.tooLong &&
         a.longStart == b.longStart;
}

// One private folder per process under TMPDIR; the list file in it is rewritten for every
// checked input. libFuzzer may end the process without destructors, so the runner points
// TMPDIR at a folder it removes afterwards.
class ScratchList {
 public:
  ScratchList() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const auto candidate = base / ("vestrel-listfuzz-" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) {
        dir_ = candidate;
      }
    }
    CHECK(!dir_.empty());
    path_ = (dir_ / "list").string();
    CHECK(std::ofstream(path_, std::ios::binary).good());
  }
  ~ScratchList() {
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
  }
  // Overwrites the file in place and then cuts it to size: truncating a file to nothing and
  // closing it makes some file systems flush it to disk, which would cost milliseconds.
  const std::string& write(std::string_view body) {
    {
      std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
      file.write(body.data(), static_cast<std::streamsize>(body.size()));
      file.close();
      CHECK(!file.fail());
    }
    std::error_code error;
    std::filesystem::resize_file(path_, body.size(), error);
    CHECK(!error);
    return path_;
  }
  std::string missing() const { return (dir_ / "absent").string(); }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

ScratchList& scratch() {
  static ScratchList list;
  return list;
}

constexpr std::size_t kPieceSizes[] = {1, 2, 3, 7, 64, 259, 260, 261, 4096};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const unsigned pick = data[0];
  const ListKind kind = pick % 3 == 0   ? ListKind::Folders
                        : pick % 3 == 1 ? ListKind::Files
                                        : ListKind::Digests;
  const std::string& root = rootFor(pick / 3);
  const std::uint8_t cut = data[1];
  const std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);

  // The list rules, against the plain reading of the body.
  const Lines reference = referenceLines(body);
  const CheckedList checked = vestrel::checkListText(body, kind, root);
  checkAcceptedLines(checked, kind, root);
  CHECK(sameList(checked, expectedList(reference, kind, root)));
  for (const std::string& line : reference) {
    CHECK(vestrel::hasControlByte(line) == controlByteIn(line));
    CHECK(vestrel::leavesInstallRoot(line) == dotDotComponentIn(line));
    if (line.size() <= kMaxListLineBytes) {
      CHECK(vestrel::acceptableListLine(kind, root, line) == lineUsable(kind, root, line));
    }
  }

  // The log form of any line, the refused one in particular.
  for (const std::string_view line : {std::string_view(checked.refusedLine), body}) {
    const std::string shown = vestrel::printableListLine(line);
    CHECK(shown.size() <= 4 * 200);
    CHECK(!controlByteIn(shown));
    const std::string_view head = line.substr(0, 200);
    if (!controlByteIn(head)) {
      CHECK(shown == head);
    }
  }

  // Pieces of any size give the same lines as the whole body at once, including where an
  // over-long line stops the reading and where the reader gives up early.
  // A quarter of the inputs have a reader that gives up after 1..32 lines.
  const std::size_t stopAfter = cut >= 0xC0 ? ((cut >> 1) & 0x1F) + 1 : 0;
  const SplitResult whole = splitInPieces(body, 0, 0, stopAfter);
  const std::size_t maxPiece = kPieceSizes[cut % (sizeof kPieceSizes / sizeof kPieceSizes[0])];
  CHECK(sameSplit(whole, splitInPieces(body, maxPiece, cut, stopAfter)));
  if (stopAfter == 0) {
    CHECK(whole.going == !whole.tooLong);
    Lines shortPrefix;
    for (const std::string& line : reference) {
      if (line.size() > kMaxListLineBytes) {
        break;
      }
      shortPrefix.push_back(line);
    }
    CHECK(whole.lines == shortPrefix);
  } else {
    CHECK(whole.lines.size() <= stopAfter);
  }

  // The file reader applies the same rules as the in-memory one. Writing a file costs far
  // more than the checks above, so only every fourth input of modest size goes to disk.
  static unsigned inputs = 0;
  if (++inputs % 4 == 0 && body.size() <= 64 * 1024) {
    const std::string& path = scratch().write(body);
    CHECK(sameList(vestrel::readCheckedList(path, kind, root), checked));
    const CheckedList none = vestrel::readCheckedList(scratch().missing(), kind, root);
    CHECK(none.accepted && none.lines.empty());
  }
  return 0;
}
