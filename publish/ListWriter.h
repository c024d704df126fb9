// Writing the three lists, and the signed release that names them, beside the published tree.
//
// Players may be downloading while the publisher runs, so a list is never seen half
// written: each is written in full under a temporary name in the same folder and then
// renamed over the old one.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "publish/Problem.h"
#include "update/lists/ListRules.h"

namespace vestrel::publish {

// The lists in the order they are written: folders, files, digests.
inline constexpr std::array<ListKind, 3> kListKinds = {ListKind::Folders, ListKind::Files,
                                                       ListKind::Digests};

// One body for each of kListKinds.
using ListBodies = std::array<std::string, kListKinds.size()>;

// A list's body: the lines in byte order without repeats, each ended by LF.
std::string listBody(std::vector<std::string> lines);

// The list's path relative to the tree (".launcher/NAME").
std::string listPath(ListKind kind);

// Checks the bodies as the installer will read them: within the size limit, and every line
// accepted under `root`. A body that fails is a fault of this tool, never written.
bool verifyBodies(const ListBodies& bodies, std::string_view root, Problems& out);

// Replaces the lists of `tree` with `bodies` and then, unless `release` is empty, the release
// file with it, making the list folder when it is missing. False, with the reasons in `out`,
// when they could not all be written; nothing is changed unless every file was written in
// full first.
bool writeLists(const std::string& tree, const ListBodies& bodies, Problems& out,
                const std::string& release = {});

}  // namespace vestrel::publish
