// Every transfer from the file server: the three lists and single listed files.
//
// Each call is one HTTPS GET whose body streams straight into a local file. It succeeds only
// when the transfer completes with status 200. On failure it reports the problem itself (log
// lines, a help page opened in the browser, the error box) and returns false; the caller
// decides whether to retry or give up. Any thread may call these; they block until the
// transfer ends and, on failure, until the box is dismissed.
#pragma once

#include <string>

namespace vestrel {

struct InstallState;

// The lists, saved to the given local path.
bool fetchDirList(const std::string& narrowLocalPath);
bool fetchFileList(const std::string& narrowLocalPath);
bool fetchHashList(const std::string& narrowLocalPath);

// A listed file. `narrowLocalPath` is the state's install root followed by the file's list line;
// `narrowLogName` is what the success line names. The server's root-level "launcher.exe"
// is saved as "launcher_new.exe" so that a running launcher is never overwritten.
bool fetchFile(const InstallState& state, const std::string& narrowLocalPath,
               const std::string& narrowLogName);

}  // namespace vestrel
