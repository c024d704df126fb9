// Files of pseudo-random bytes for the benchmarks: the same seed gives the same bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "update/digest/Md5.h"

namespace vestrel::bench {

// Writes `size` pseudo-random bytes to `path` and returns their MD5.
inline std::string writeRandom(const std::filesystem::path& path, std::size_t size,
                               std::uint64_t seed) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> block(1 << 16);
  Md5 md5;
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  while (size > 0) {
    for (auto& word : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      word = x;
    }
    const std::size_t n = std::min(size, block.size() * sizeof block[0]);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    md5.add(block.data(), n);
    size -= n;
  }
  return md5.finishText();
}

}  // namespace vestrel::bench
