// Every transfer from the file server: the three lists and single listed files.
//
// Each call is one HTTPS GET whose body streams straight into a local file. It succeeds only
// when the transfer completes with status 200 and the file was closed without error. On
// failure it reports the problem itself (log lines, a help page opened in the browser, the
// error box) and returns false; the caller decides whether to retry or give up. Any thread
// may call these; they block until the transfer ends and, on failure, until the box is
// dismissed.
//
// Only https is spoken, on the request and on every redirect (at most kMaxRedirects; another
// https host is fine, since what is kept is decided by the digest). A connection that is not
// up after kConnectTimeoutSeconds, or a transfer that receives nothing for kStallSeconds,
// fails like any other error.
#pragma once

#include <string>

namespace vestrel {

struct InstallState;

inline constexpr long kMaxRedirects = 10;
inline constexpr long kConnectTimeoutSeconds = 30;
inline constexpr long kStallSeconds = 60;

// How a list fetch ended. Refused: the body passed the list size limit, the transfer was cut
// off, and the refusal has been reported (the caller takes its refusal path).
enum class ListFetch { Received, Failed, Refused };

// The lists, saved to the given local path.
ListFetch fetchDirList(const std::string& narrowLocalPath);
ListFetch fetchFileList(const std::string& narrowLocalPath);
ListFetch fetchHashList(const std::string& narrowLocalPath);

// A listed file. `narrowLocalPath` is the state's install root followed by the file's list
// line; `narrowLogName` is what the success line names. The server's root-level
// "launcher.exe" is saved as "launcher_new.exe" so that a running launcher is never
// overwritten. The body is hashed as it is written, and the file is kept only when its digest
// is in the state's digest list; otherwise it is deleted, the mismatch is logged (no box:
// the caller's failure report follows) and the result is false.
bool fetchFile(const InstallState& state, const std::string& narrowLocalPath,
               const std::string& narrowLogName);

// The server address of a listed file: every byte of the relative name outside the
// unreserved characters and '/' is percent-encoded, so any name reaches the server as named.
std::string fileUrl(const std::string& relativeName);

// Tests shorten the connect and stall limits; 0 restores the constants above.
void setTransferLimitsForTesting(long connectTimeoutSeconds, long stallSeconds);

}  // namespace vestrel
