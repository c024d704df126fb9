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

#include "update/ManifestLines.h"

namespace vestrel {

enum class ListKind { Folders, Files, Digests };

// A list body larger than this is cut off while it arrives and refused: real lists are a
// few kilobytes, and a larger one can only be a fault of the server.
inline constexpr std::size_t kMaxListBytes = 1024 * 1024;

// The file and digest lists fill tables of this many slots.
inline constexpr std::size_t kMaxListLines = 500;

// A download is written beside its file under the file's name followed by this, and takes the
// file's name only once it has been verified. No listed name may end so, and what an
// interrupted run left under such a name is removed by the next.
inline constexpr char kPartialSuffix[] = ".vestrel-part";

// The list's name on the server and beside the install root.
const char* listFileName(ListKind kind);

// True when `name` (one path component) is one of the three list names. The installer keeps
// its copies of the lists under these names and its verification pass passes over every file
// so named, wherever it lies: such a file is never checked against the lists.
bool isListFileName(std::string_view name);

// True when a line, split at both '/' and '\', has a ".." component: joined to the install
// folder it would reach outside it.
bool leavesInstallRoot(std::string_view line);

// True when the line holds a byte below 0x20 or 0x7F. (The CR of a CR LF line end is not part
// of the line.) No file name or digest has one.
bool hasControlByte(std::string_view line);

// The length of the local path a line of `kind` becomes under the install root `root`:
// folders are made at "%s/%s", files stored at "%s%s". A digest names no path: 0.
std::size_t composedPathBytes(ListKind kind, std::string_view root, std::string_view line);

// Whether one line of a list of `kind` can be used under the install root `root`: no
// control byte; for folders and files no ".." component and a composed path that fits 259
// bytes; for files also not blank (it would name the install root itself) and not ending
// in '/' (a folder can never be downloaded as a file).
bool acceptableListLine(ListKind kind, std::string_view root, std::string_view line);

// A list read with every rule applied: the lines in order, as this system's narrow text (see
// platform/ListEncoding.h), or the line it was refused for, as it came.
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
