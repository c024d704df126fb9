// A chunk's bytes in memory. Room made for a chunk is written over whole straight away (by the
// decompressor, or read from a file), so it is not cleared first: over a large file, clearing
// would cost about as much as the copy that fills it.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace vestrel {

template <typename T>
struct UnclearedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UnclearedAllocator<U>;
  };

  UnclearedAllocator() = default;
  template <typename U>
  explicit UnclearedAllocator(const UnclearedAllocator<U>& /*other*/) noexcept {}

  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
};

using ChunkBytes = std::vector<unsigned char, UnclearedAllocator<unsigned char>>;

}  // namespace vestrel
