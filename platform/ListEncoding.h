// The encoding of the server's lists.
//
// The lists spell every name in Windows-1251: the players' Windows installers keep their paths
// in that encoding and join each line to their install folder byte for byte, as they always
// have. Every other system turns a line into its own narrow text first.
#pragma once

#include <string>
#include <string_view>

namespace vestrel::platform {

// A list line as narrow text. False when the line holds a byte that Windows-1251 leaves
// unassigned: no file of the tree can be named by it.
bool listLineToNarrow(std::string_view line, std::string& narrow);

}  // namespace vestrel::platform
