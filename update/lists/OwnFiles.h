// The names of the files the installer keeps for itself in the install folder, in one place.
// No list line may name one of them, the verification walk passes over them, and the tools
// and tests that must know them take them from here.
#pragma once

#include <array>
#include <string_view>

namespace vestrel {

// The three lists and the signed release, as the server names them and as the installer keeps
// its copies beside the install root.
inline constexpr char kFolderListName[] = "udirs.lists";
inline constexpr char kFileListName[] = "ufile.lists";
inline constexpr char kDigestListName[] = "uhash.lists";
inline constexpr char kReleaseFileName[] = "urelease.lists";

// The log, at the install root.
inline constexpr char kLogFileName[] = "installer.log";

// What the last run found verified (update/VerifiedRecord.h), at the install root.
inline constexpr char kStateFileName[] = "installer.state";

// A download is written beside its file under the file's name followed by this, and takes the
// file's name only once it has been verified. What an interrupted run left under such a name
// is resumed by the next when its file is still listed and still wrong, else removed.
inline constexpr char kPartialSuffix[] = ".vestrel-part";
// Beside a download that can be resumed: what the server said of the file it came from
// (update/net/ResumablePart.h).
inline constexpr char kResumeSuffix[] = ".vestrel-resume";

// The names the installer keeps in any folder: a file so named is never a listed file.
inline constexpr std::array<std::string_view, 5> kOwnNamesInAnyFolder = {
    kFolderListName, kFileListName, kDigestListName, kReleaseFileName, kStateFileName};

// Whether a local file, given by its path below the install root ('/'-separated, in any
// case a list may spell it), is one of the installer's own: the log at the root, one of the
// names above in any folder, or a download not yet verified and what is kept beside it.
constexpr bool isOwnFile(std::string_view relative) {
  const std::string_view name = relative.substr(relative.rfind('/') + 1);
  for (const std::string_view own : kOwnNamesInAnyFolder) {
    if (name == own) {
      return true;
    }
  }
  return relative == kLogFileName || name.ends_with(kPartialSuffix) ||
         name.ends_with(kResumeSuffix);
}

}  // namespace vestrel
