// What differs between the four kinds of transfer (update/net/ListFetch.h and
// update/net/FileDownload.h): the lines their
// failures are logged with (update/net/FetchReport.h), how the host's address is resolved and,
// for the lists, the list's name on the server.
#pragma once

#include "support/Texts.h"
#include "update/lists/OwnFiles.h"

namespace vestrel {

struct FetchOperation {
  const char* listName = nullptr;  // the lists only: their bodies are bounded
  const char* sslErrorLine = nullptr;
  const char* otherErrorLine = nullptr;
  // The host is reached over IPv4 only: over the run's connection when that one is IPv4,
  // else on a connection of its own.
  bool ipv4Only = false;
};

inline constexpr FetchOperation kDirListFetch{.listName = kFolderListName,
                                              .sslErrorLine = text::kDirListSslError,
                                              .otherErrorLine = text::kDirListOtherError};
inline constexpr FetchOperation kFileListFetch{.listName = kFileListName,
                                               .sslErrorLine = text::kFileListSslError,
                                               .otherErrorLine = text::kFileListOtherError,
                                               .ipv4Only = true};
inline constexpr FetchOperation kHashListFetch{.listName = kDigestListName,
                                               .sslErrorLine = text::kHashListSslError,
                                               .otherErrorLine = text::kHashListOtherError};
// The signed release file, which is read like a list and bounded like one.
inline constexpr FetchOperation kReleaseFetch{.listName = kReleaseFileName,
                                              .sslErrorLine = text::kReleaseSslError,
                                              .otherErrorLine = text::kReleaseOtherError};
// A listed file.
inline constexpr FetchOperation kFileFetch{.sslErrorLine = text::kFileSslError,
                                           .otherErrorLine = text::kFileOtherError};

}  // namespace vestrel
