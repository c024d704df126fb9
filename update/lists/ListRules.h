// What the server's lists may hold, and reading a list with every rule applied.
//
// A list that breaks a rule is refused whole, before anything acts on it: acting on part of
// a list would report an incomplete or foreign installation as complete. The rules are the
// same wherever a list is read or made, so the installer and the tools that write lists can
// never disagree.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "support/LocalPaths.h"
#include "update/lists/ManifestLines.h"
#include "update/lists/OwnFiles.h"

namespace vestrel {

enum class ListKind { Folders, Files, Digests };

// The most lines a file or digest list may hold: a game's release of tens of thousands of
// files, with room to grow.
inline constexpr std::size_t kMaxListLines = 200000;

// A list body larger than this is cut off while it arrives and refused: the longest lines
// (a path of kPathBufferSize bytes) of the most a list may hold fit, and a larger body can
// only be a fault of the server.
inline constexpr std::size_t kMaxListBytes = std::size_t{64} << 20;
static_assert(kMaxListBytes >= kMaxListLines * (kPathBufferSize + 1));

// The list's name on the server and beside the install root.
const char* listFileName(ListKind kind);

// True when `name` (one path component) is one of the three list names or the release file's
// (update/lists/ReleaseFile.h). The installer keeps its copies of them under these names and
// its verification pass passes over every file so named, wherever it lies: such a file is
// never checked against the lists.
bool isListFileName(std::string_view name);

// True when a line, split at both '/' and '\', has a ".." component: joined to the install
// folder it would reach outside it.
bool leavesInstallRoot(std::string_view line);

// True when the line holds a byte below 0x20 or 0x7F. (The CR of a CR LF line end is not part
// of the line.) No file name or digest has one.
bool hasControlByte(std::string_view line);

// What keeps one name (one path component) from being written by the players' Windows
// installers. Every listed path is held to these rules component by component, wherever the
// list is read, so a release that a Windows player could not install is refused everywhere.
struct NameFaults {
  bool controlByte = false;
  bool backslash = false;           // a folder separator there
  char forbidden = 0;               // the first of <>:"|?* it holds, or 0
  bool trailingDotOrSpace = false;  // Windows drops it, and the name becomes another
  bool reserved = false;            // a device name
  bool any() const {
    return controlByte || backslash || forbidden || trailingDotOrSpace || reserved;
  }
};
NameFaults windowsNameFaults(std::string_view name);

// True for the device names Windows reserves in every folder (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9), in any letter case and with any extension.
bool isReservedName(std::string_view name);

// The file a file line is stored as, relative to the install root: the line itself, but for
// the root's launcher.exe, which is running while the installer works and so is stored as
// launcher_new.exe for the update tool to put in place.
std::string_view storedFileLine(std::string_view line);

// The key under which a file line's local file is compared with the others: Windows does not
// tell names apart by letter case, and the root's launcher.exe is stored as launcher_new.exe.
// `listedLine` is the line as listed (Windows-1251).
std::string localFileKey(std::string_view listedLine);

// Whether the three lists, each accepted on its own, describe one release: a file list with
// lines needs digests (`refusedList` Digests, no line), and no file line may name a folder
// line's path or one of the folders on its way (`refusedList` Files, that line).
bool releaseListsAgree(const std::vector<std::string>& folders,
                       const std::vector<std::string>& files,
                       const std::vector<std::string>& digests, ListKind& refusedList,
                       std::string& refusedLine);

// The length of the local path a line of `kind` becomes under the install root `root`:
// folders are made at "%s/%s", files stored at "%s%s". A digest names no path: 0.
std::size_t composedPathBytes(ListKind kind, std::string_view root, std::string_view line);

// Whether one line of a list of `kind` can be used under the install root `root`: no
// control byte; for folders and files no ".." component, every component a name Windows can
// write, and a composed path that fits 259 bytes; for files also no empty component (a blank
// line would name the install root itself, a final '/' a folder); for digests exactly 32
// lowercase hex digits.
bool acceptableListLine(ListKind kind, std::string_view root, std::string_view line);

// A list read with every rule applied: the lines in order, as this system's narrow text (see
// platform/ListEncoding.h), or the line it was refused for, as it came. A file list is also
// refused for a line that names a local file another line already names in another spelling,
// or a file below another listed file, or a file the installer keeps for itself; a line that
// repeats an earlier one byte for byte names the same file, and is taken once.
struct CheckedList {
  bool accepted = true;
  std::vector<std::string> lines;
  std::string refusedLine;  // for an over-long line, its first bytes
};

// How the lines are checked and given back: in this system's narrow text, as this installer
// uses them, or as listed (Windows-1251), as the players' Windows installers use them.
enum class LineSpelling { Narrow, AsListed };

// Reads the local copy at `narrowPath` (a missing file reads as an empty list).
CheckedList readCheckedList(const std::string& narrowPath, ListKind kind, std::string_view root,
                            LineSpelling spelling = LineSpelling::Narrow);

// The same rules over a list body held in memory.
CheckedList checkListText(std::string_view body, ListKind kind, std::string_view root,
                          LineSpelling spelling = LineSpelling::Narrow);

// A refused line as the log shows it: at most its first 200 bytes, each control byte
// written as \xNN, so no line of a hostile list can forge log records.
std::string printableListLine(std::string_view line);

}  // namespace vestrel
