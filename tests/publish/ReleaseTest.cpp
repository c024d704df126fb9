// Signed releases through the program: its keys, `make --sign` and `check --key`.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "PublishTestSupport.h"
#include "update/lists/ReleaseFile.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel::publish {
namespace {

using test::hasLine;
using test::runPublish;
using test::TempTree;

const char kRelease[] = ".launcher/urelease.lists";

// A fresh key pair: the secret key in `path`, the public key as keygen printed it.
std::string keygen(const std::string& path) {
  const test::Run run = runPublish({"keygen", path});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string out = run.out.substr(0, run.out.find_last_not_of('\n') + 1);
  return out.substr(out.rfind('\n') + 1);
}

Release releaseOf(const TempTree& tree) {
  Release release;
  std::string why;
  EXPECT_TRUE(readRelease(tree.read(kRelease), release, why)) << why;
  return release;
}

TEST(PublishRelease, KeygenMakesAKeyOnlyItsOwnerReadsAndNeverReplacesOne) {
  const TempTree keys;
  const std::string path = keys.path() + "/publisher.secret";
  const std::string publicKey = keygen(path);
  std::string bytes;
  EXPECT_TRUE(decodePublicKey(publicKey, bytes)) << publicKey;
  EXPECT_EQ(bytes.size(), 32u);
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  const std::string secret = keys.read("publisher.secret");
  const test::Run again = runPublish({"keygen", path});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("never replaced"), std::string::npos) << again.err;
  EXPECT_EQ(keys.read("publisher.secret"), secret);

  // A key file that holds anything else is refused before the tree is touched.
  keys.put("damaged.secret", secret.substr(0, 40) + "\n");
  TempTree tree;
  tree.put("a.txt", "a");
  const test::Run refused =
      runPublish({"make", tree.path(), "--sign", keys.path() + "/damaged.secret"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("cannot be used"), std::string::npos) << refused.err;
  EXPECT_TRUE(tree.listFolder().empty());
}

TEST(PublishRelease, CheckHoldsTheTreeToTheReleaseItsKeySigned) {
  const TempTree keys;
  const std::string secret = keys.path() + "/first.secret";
  const std::string publicKey = keygen(secret);
  const std::string otherKey = keygen(keys.path() + "/other.secret");
  TempTree tree;
  tree.put("bin/a.txt", "alpha");
  tree.put("launcher.exe", "launcher");
  tree.put("data/maps/z.map", "zulu");
  ASSERT_EQ(runPublish({"make", tree.path(), "--sign", secret}).status, 0);
  const Release first = releaseOf(tree);
  EXPECT_EQ(first.serial, 1u);
  ASSERT_EQ(first.files.size(), 3u);
  EXPECT_EQ(first.files[0].line, "bin/a.txt");
  EXPECT_EQ(first.files[0].size, 5u);
  EXPECT_EQ(first.files[0].md5, vestrel::test::md5Of("alpha"));
  EXPECT_EQ(first.files[2].line, "launcher.exe");
  EXPECT_EQ(first.lists[1].size, tree.read(".launcher/ufile.lists").size());

  const test::Run stranger = runPublish({"check", tree.path(), "--key", otherKey});
  EXPECT_EQ(stranger.status, 1);
  EXPECT_TRUE(
      hasLine(stranger.errLines(), tree.path(), kRelease, "release not signed by the given key"))
      << stranger.err;
  // Each release goes one past the tree's.
  ASSERT_EQ(runPublish({"make", tree.path(), "--sign", secret}).status, 0);
  EXPECT_EQ(releaseOf(tree).serial, 2u);
  const test::Run good = runPublish({"check", tree.path(), "--key", publicKey});
  EXPECT_EQ(good.status, 0) << good.err;

  // The same size, other bytes: only the release can tell.
  tree.put("launcher.exe", "LAUNCHER");
  const test::Run changed = runPublish({"check", tree.path(), "--key", publicKey});
  EXPECT_EQ(changed.status, 1);
  EXPECT_TRUE(hasLine(changed.errLines(), tree.path(), "launcher.exe", "differs from the release"))
      << changed.err;
  tree.put("launcher.exe", "launcher");

  std::string bytes = tree.read(kRelease);
  bytes[bytes.find("serial 2") + 7] = '9';
  tree.put(kRelease, bytes);
  const test::Run forged = runPublish({"check", tree.path(), "--key", publicKey});
  EXPECT_EQ(forged.status, 1);
  EXPECT_TRUE(
      hasLine(forged.errLines(), tree.path(), kRelease, "release not signed by the given key"))
      << forged.err;
  EXPECT_EQ(runPublish({"check", tree.path()}).status, 0) << "without a key it is not read";

  ASSERT_EQ(runPublish({"make", tree.path(), "--sign", secret, "--serial", "40", "--expires",
                        "2099-12-31T23:59:59Z"})
                .status,
            0);
  EXPECT_EQ(releaseOf(tree).serial, 40u);
  EXPECT_EQ(releaseOf(tree).expires, "2099-12-31T23:59:59Z");
  EXPECT_EQ(runPublish({"check", tree.path(), "--key", publicKey}).status, 0);
}

}  // namespace
}  // namespace vestrel::publish
