// Reading the server's three lists (folders, files, digests) from their local copies.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vestrel {

// Calls `onLine` with each line of the file, in order, until the end or until it returns
// false. A line is every byte up to the next LF; a CR right before the LF is dropped, any
// other byte is kept (no trimming, blank lines included). The last line needs no LF, and a
// final LF adds no empty line. A file that cannot be opened yields no lines.
void readListLines(const std::string& narrowPath,
                   const std::function<bool(const std::string&)>& onLine);

// True when a list line, split at both '/' and '\', has a ".." component: joined to the
// install folder it would reach outside it.
bool leavesInstallRoot(std::string_view line);

}  // namespace vestrel
