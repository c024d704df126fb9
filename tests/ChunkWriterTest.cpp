#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/Sha256.h"
#include "support/FileHandle.h"
#include "tests/TestSupport.h"
#include "update/digest/Md5.h"
#include "update/net/ChunkWriter.h"

namespace vestrel {
namespace {

// A file of random bytes cut into chunks of uneven sizes, and its index.
struct ChunkedFile {
  std::string bytes;
  ChunkIndex index;

  ChunkedFile() {
    std::mt19937 generator(7);
    for (const std::size_t size : {70000, 300000, 5, 131072, 250000, 99999}) {
      const std::string chunk = randomBytes(generator, size);
      index.chunks.push_back({bytes.size(), size, platform::sha256Text(chunk.data(), size)});
      bytes += chunk;
    }
    index.fileSize = bytes.size();
  }

  static std::string randomBytes(std::mt19937& generator, std::size_t size) {
    std::string out(size, '\0');
    for (char& byte : out) {
      byte = static_cast<char>(generator() & 0xff);
    }
    return out;
  }

  ChunkBytes chunk(std::size_t i) const {
    const ChunkRef& ref = index.chunks[i];
    return ChunkBytes(bytes.begin() + static_cast<std::ptrdiff_t>(ref.offset),
                      bytes.begin() + static_cast<std::ptrdiff_t>(ref.offset + ref.size));
  }

  std::string md5() const {
    Md5 md5;
    md5.add(bytes.data(), bytes.size());
    return md5.finishText();
  }
};

// Chunks arriving out of turn, around chunks the part held already (read back for the
// digest), come out as the whole file with its MD5; a chunk that is not the bytes it is named
// by fails the file as damaged, not as a write fault, and leaves no digest.
TEST(ChunkWriter, ChunksInAnyOrderMakeTheFileAndADamagedOneIsCaught) {
  const ChunkedFile file;
  test::TempDir dir;
  const std::string partPath = (dir.path() / "part").string();
  {
    const FileHandle part(std::fopen(partPath.c_str(), "w+b"));
    ASSERT_NE(part, nullptr);
    for (const std::size_t held : {0, 3}) {  // what an interrupted run left
      const ChunkBytes bytes = file.chunk(held);
      ASSERT_EQ(std::fseek(part.get(), static_cast<long>(file.index.chunks[held].offset), SEEK_SET),
                0);
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), part.get()), bytes.size());
    }
    std::string md5;
    {
      ChunkWriter writer(part.get(), file.index, {true, false, false, true, false, false});
      for (const std::size_t i : {5, 2, 1, 4}) {
        ASSERT_TRUE(writer.add(i, file.chunk(i)));
      }
      ASSERT_TRUE(writer.finish(md5));
      EXPECT_FALSE(writer.damaged());
    }
    EXPECT_EQ(md5, file.md5());
  }
  EXPECT_EQ(test::readFile(partPath), file.bytes);

  const FileHandle part(std::fopen(partPath.c_str(), "w+b"));
  ChunkWriter writer(part.get(), file.index, std::vector<bool>(file.index.chunks.size()));
  ChunkBytes damaged = file.chunk(2);
  damaged[2] ^= 1;
  writer.add(0, file.chunk(0));
  writer.add(2, std::move(damaged));
  writer.add(1, file.chunk(1));
  std::string md5 = "unset";
  EXPECT_FALSE(writer.finish(md5));
  EXPECT_TRUE(writer.damaged());
  EXPECT_EQ(md5, "");
}

}  // namespace
}  // namespace vestrel
