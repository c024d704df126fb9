// Single transfers, one at a time, as the tests exercise them: a list alone, a file alone.
// The installer itself fetches its lists in one round and its files side by side.
#pragma once

#include <string>

#include "update/net/ListFetch.h"

namespace vestrel {

struct InstallState;

// A list fetched alone to `localPath`, reported as the run reports it.
ListFetch fetchDirList(const std::string& localPath);
ListFetch fetchFileList(const std::string& localPath);
ListFetch fetchHashList(const std::string& localPath);

// A listed file downloaded alone and, on failure, reported as the download worker would
// before its own lines: true when it is verified and in place.
bool fetchFile(const InstallState& state, const std::string& localPath, const std::string& logName);

}  // namespace vestrel
