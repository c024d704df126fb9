// Chunked releases through the program: `make --chunks`, `check --key` and `prune`.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "PublishTestSupport.h"
#include "update/chunks/ChunkIndex.h"
#include "update/lists/ReleaseFile.h"

namespace vestrel::publish {
namespace {

namespace fs = std::filesystem;
using test::hasLine;
using test::runPublish;
using test::TempTree;

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random());
  }
  return bytes;
}

// Every stored chunk's name, and the chunks of the big file's index in the current release.
std::set<std::string> storedChunks(const TempTree& tree) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(tree.path() + "/" + kChunksFolder)) {
    if (entry.is_regular_file() && entry.path().parent_path().filename() != "index") {
      names.insert(entry.path().filename().string());
    }
  }
  return names;
}

TEST(PublishChunks, ShiftedBytesReuseTheirChunksAndTheStoreIsCheckedAndPruned) {
  const TempTree keys;
  const std::string secret = keys.path() + "/publisher.secret";
  const test::Run keygen = runPublish({"keygen", secret});
  ASSERT_EQ(keygen.status, 0);
  const std::string out = keygen.out.substr(0, keygen.out.find_last_not_of('\n') + 1);
  const std::string publicKey = out.substr(out.rfind('\n') + 1);

  TempTree tree;
  const std::string big = randomBytes(6 << 20, 1);
  tree.put("data/big.bin", big);
  tree.put("small.bin", randomBytes(1000, 2));  // below a chunk: fetched whole, no index
  EXPECT_EQ(runPublish({"make", tree.path(), "--chunks"}).status, 2) << "chunks need a release";
  ASSERT_EQ(runPublish({"make", tree.path(), "--sign", secret, "--chunks"}).status, 0);
  const std::set<std::string> first = storedChunks(tree);
  EXPECT_GE(first.size(), 12u);
  EXPECT_LE(first.size(), 40u);
  Release release;
  std::string why;
  ASSERT_TRUE(readRelease(tree.read(".launcher/urelease.lists"), release, why)) << why;
  EXPECT_EQ(release.format, kChunkedReleaseFormat);
  EXPECT_FALSE(release.files[0].indexSha256.empty());
  EXPECT_TRUE(release.files[1].indexSha256.empty());

  // A byte inserted at the start: the cuts find their places again after a chunk or two, and
  // a chunk that is already stored is never written again (its damage stays, for check).
  const std::string damaged = *first.rbegin();
  const std::string damagedPath = tree.path() + "/" + chunkPath(damaged);
  const std::string damagedBytes = tree.read(chunkPath(damaged));
  tree.put(chunkPath(damaged), damagedBytes.substr(1));
  tree.put("data/big.bin", "x" + big);
  ASSERT_EQ(runPublish({"make", tree.path(), "--sign", secret, "--chunks"}).status, 0);
  const std::set<std::string> second = storedChunks(tree);
  EXPECT_LE(second.size() - first.size(), 2u);
  EXPECT_EQ(tree.read(chunkPath(damaged)), damagedBytes.substr(1));
  const test::Run check = runPublish({"check", tree.path(), "--key", publicKey});
  EXPECT_EQ(check.status, 1);
  EXPECT_TRUE(hasLine(check.errLines(), tree.path(), chunkPath(damaged),
                      "chunk store differs from the release"))
      << check.err;
  tree.put(chunkPath(damaged), damagedBytes);
  EXPECT_EQ(runPublish({"check", tree.path(), "--key", publicKey}).status, 0);

  // Prune keeps everything the release names and, of the rest, what is younger than asked.
  EXPECT_EQ(runPublish({"prune", tree.path(), "--older-than", "1"}).status, 0);
  EXPECT_EQ(storedChunks(tree), second);
  const test::Run pruned = runPublish({"prune", tree.path(), "--older-than", "0"});
  EXPECT_EQ(pruned.status, 0);
  EXPECT_LE(storedChunks(tree).size(), first.size());
  EXPECT_LT(storedChunks(tree).size(), second.size());
  EXPECT_EQ(runPublish({"check", tree.path(), "--key", publicKey}).status, 0) << pruned.out;

  // A damaged index is caught too, and prune then removes nothing.
  ASSERT_TRUE(readRelease(tree.read(".launcher/urelease.lists"), release, why)) << why;
  const std::string index = indexPath(release.files[0].indexSha256);
  tree.put(index, tree.read(index) + "\n");
  EXPECT_EQ(runPublish({"check", tree.path(), "--key", publicKey}).status, 1);
  EXPECT_EQ(runPublish({"prune", tree.path(), "--older-than", "0"}).status, 1);
}

}  // namespace
}  // namespace vestrel::publish
