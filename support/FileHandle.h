// A C file that closes itself.
#pragma once

#include <cstdio>
#include <memory>

namespace vestrel {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileClose>;

}  // namespace vestrel
