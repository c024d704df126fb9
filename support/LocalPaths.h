// The rules every local path of the installer follows: how long one may be, and how a folder
// and a name below it are joined.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vestrel {

// A path of at most 259 bytes and its terminator: what the oldest file calls on Windows take,
// and so the bound for every path the installer makes, on any system.
inline constexpr std::size_t kPathBufferSize = 260;

// `folder` and `relative` with exactly one '/' between them, whether or not the folder ends in
// one (the install folder always does) or the name starts with one. An empty folder gives the
// name as it is.
std::string joinPath(std::string_view folder, std::string_view relative);

// Removes the file at `path` if it is there: for temporary files, where a file already gone
// and one that cannot be removed leave nothing more to do.
void removeIfPresent(const std::string& path);

}  // namespace vestrel
