// The operating-system services the installer uses, behind one small interface.
//
// Every function here is implemented once per system: platform/posix/ for Linux and
// platform/win32/ for Windows. The build picks one set of sources, so the portable code
// never sees an OS header or a preprocessor switch.
//
// Text conventions: "narrow" text is the process's multibyte encoding (UTF-8 on POSIX,
// Windows-1251 on Windows). Paths, log lines and box texts are narrow. The installer's own
// texts are written in the source as UTF-8 and pass through narrowText() before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel::platform {

// ---- Locale and text -------------------------------------------------------------------

// Sets the C locale that narrow text, formatting and case folding follow.
void setProcessLocale();

// Converts one of the installer's own UTF-8 texts to the narrow encoding.
std::string narrowText(std::string_view utf8);

// Converts narrow text to UTF-8 for display in the GUI; the inverse of narrowText().
std::string narrowToUtf8(std::string_view narrow);

// Converts UTF-8 text that did not come from the installer (typed by the player, or a name as
// the GUI drew it) to narrow text. False when some character has no exact narrow equivalent:
// `narrow` then holds a stand-in for each such character, good for measuring the text but
// not for naming a file.
bool utf8ToNarrow(std::string_view utf8, std::string& narrow);

// Breaks the current calendar time down into local time. False when the clock fails.
bool localCalendarTime(std::tm& out);

// ---- Path rules ------------------------------------------------------------------------

// The folder text as the install root keeps it. On Windows the second character becomes
// ':' (the drive separator) whatever it was; other systems keep the text as it is.
std::string adjustInstallFolder(std::string folder);

// A working copy of a '/'-separated folder in the system's own separators.
std::string nativeFolder(std::string folder);

// The separator placed between a native folder and a file name.
char nativeSeparator();

// Opens a file named in narrow text, with fopen's modes. Portable code opens every file
// through this, so that on Windows a name is read in the narrow encoding (not in whatever
// ANSI code page the system has) and reaches the wide file API. nullptr and errno on failure.
std::FILE* openFile(const std::string& narrowPath, const char* mode);
// Moves an open file's position to `offset` bytes from its start, files past 4 GiB included.
bool seekFile(std::FILE* file, std::uint64_t offset);

// Narrow path text to a file-system path, and back. fromFsPath fails on names that the
// narrow encoding cannot hold.
std::filesystem::path toFsPath(const std::string& narrow);
bool fromFsPath(const std::filesystem::path& path, std::string& narrow);

// Gives `to` the file at `from`, replacing whatever file `to` named, in one step: there is no
// moment in which `to` is missing. False with the system's error number in `error`.
bool replaceFile(const std::string& narrowFrom, const std::string& narrowTo, int& error);
// Removes a file. False with the system's error number in `error`.
bool removeFile(const std::string& narrow, int& error);
// True when `error`, as replaceFile or removeFile gave it, says that another program holds the
// file for the moment: on Windows a sharing or lock violation, or access refused while an
// antivirus scans a fresh file; never on POSIX, where an open file stops neither.
bool heldByAnotherProgram(int error);

// True when the folder text is absolute by this system's path rules ("/..." on POSIX, a drive
// letter, ':' and a separator on Windows).
bool isAbsoluteFolder(const std::string& narrow);

// ---- The program's own files ----------------------------------------------------------

// The folder holding the running program, in narrow text and ending in a separator; empty
// when the system cannot say or narrow text cannot hold its name.
std::string programFolder();

// The copy of one of the program's own files built into it, by the number the build gave it.
// False when this system's build carries none (the file is then staged beside the program).
bool builtInFile(int id, const unsigned char*& data, std::size_t& size);

// ---- The network's proxy ---------------------------------------------------------------

// What the system's own settings say of reaching an address, in the system's notation.
struct SystemProxy {
  // False: the system has no such settings, and libcurl's own rules (its environment
  // variables) apply.
  bool decided = false;
  // Proxies as "host:port" or "scheme=host:port" entries separated by ';' or blanks; empty
  // (or "DIRECT"): no proxy.
  std::string proxies;
  // Hosts that bypass the proxy: names, "*.domain" patterns and "<local>" (any name without
  // a dot), separated by ';', ',' or blanks.
  std::string bypass;
  // Where the answer came from, for the log: the settings themselves, auto-detection, or
  // the configuration script at `script`.
  enum class Source { Settings, AutoDetection, Script } source = Source::Settings;
  std::string script;
};

// The user's own settings, read without asking the network. `lookUp` is set when they ask for
// auto-detection or a configuration script, whose answer lookUpSystemProxy gives.
SystemProxy systemProxySettings(bool& lookUp);

// What auto-detection or the configuration script answers for `url`, into `answer` (which
// holds the settings). It asks the network, so it may take long; it gives up soon after
// `stop` is requested. False when nothing answered: the manual settings then apply, as they
// do for browsers.
bool lookUpSystemProxy(const std::string& url, std::stop_token stop, SystemProxy& answer);

// ---- One installer at a time -----------------------------------------------------------

enum class InstanceLock { Acquired, HeldElsewhere, Unavailable };

// Takes the per-user lock that keeps two installers from working at once; it is held until
// the process ends and is not passed to started programs. Unavailable: the lock itself could
// not be made (the installer then runs as it would without one).
InstanceLock acquireInstanceLock();

// Dismisses the error boxes that are up, so the threads that show them return (on some
// systems a box is a child process that would otherwise outlive the installer).
void endErrorBoxes();

// ---- Settings --------------------------------------------------------------------------

// Reads the per-user stored install folder. When the store does not exist yet it is
// created holding an empty value. False when the value cannot be read.
bool readStoredFolder(std::string& narrow);

// Writes the per-user stored install folder; failures are silent.
void writeStoredFolder(const std::string& narrow);

// ---- User-facing side effects ----------------------------------------------------------

// Shows a modal error box with no owner window; callable from any thread, blocks only it.
void showErrorBox(const std::string& narrowTitle, const std::string& narrowText);

// Opens a web address in the user's browser. The result is not observable.
void openLink(const std::string& narrowUrl);

// ---- Programs --------------------------------------------------------------------------

// Result codes of startProgram, in the Windows numbering that the installer reports.
inline constexpr int kStartOk = 0;
inline constexpr int kStartFileNotFound = 2;
inline constexpr int kStartAccessDenied = 5;

// Starts a program detached from the installer, with the inherited environment and no
// inherited handles. `argument` is the one word after the program name on its command line.
// Returns kStartOk or the system's error code.
int startProgram(const std::string& narrowPath, const std::string& narrowWorkingDirectory,
                 const std::string& argument);

// The process id of a running process whose image name equals `imageName` exactly
// (case-sensitive), or 0 when there is none.
std::uint32_t findRunningProcess(const std::string& imageName);

// ---- Folder listing and drives ---------------------------------------------------------

enum class EntryType { None, Folder, RegularFile, Device };

struct DirectoryEntry {
  std::string name;  // narrow, at most 260 bytes
  EntryType type = EntryType::None;
};

// An open enumeration of one folder.
class DirectoryStream {
 public:
  DirectoryStream() = default;
  ~DirectoryStream() { close(); }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;

  // Opens `narrowPath`. False when the folder cannot be enumerated.
  bool open(const std::string& narrowPath);
  // The next entry; false at the end.
  bool next(DirectoryEntry& entry);
  void close();
  // The absolute folder being listed, '/'-separated and ending in '/'.
  const std::string& fullPath() const { return fullPath_; }

 private:
  void* handle_ = nullptr;
  std::string fullPath_;
};

// What the listing needs to know of an entry besides its type.
struct EntryAttributes {
  bool hidden = false;
  bool system = false;
};

// Reads the attributes of `narrowPath`. False when they cannot be read; the entry is then
// left out of listings.
bool readEntryAttributes(const std::string& narrowPath, EntryAttributes& out);

struct DriveEntry {
  std::string name;  // display name, ending in the drive's letter or name
  std::string path;  // the folder opened for it, '/'-separated, ending in '/'
};

// The drives a user may install to, in the system's order. False when enumeration fails.
bool listDrives(std::vector<DriveEntry>& out);

// The text before a path's first component that names its drive ("C:/" on Windows, "/"
// elsewhere), given an absolute '/'-separated path.
std::string driveRootOf(const std::string& absolutePath);

}  // namespace vestrel::platform
