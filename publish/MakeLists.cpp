#include <utility>

#include "publish/BuildLists.h"
#include "publish/ChunkStore.h"
#include "publish/Commands.h"
#include "publish/ListWriter.h"
#include "publish/Release.h"

namespace vestrel::publish {

MakeResult makeLists(const std::string& tree, const Options& options) {
  MakeResult result;
  BuiltLists built = buildLists(tree, options, OnRefusal::Stop);
  if (!built.problems.empty()) {
    result.problems = std::move(built.problems);
    return result;
  }
  std::string release;
  const bool signing = !options.release.secretKey.empty();
  // The release is made before anything is written, so that nothing is unless both can be.
  const std::uint64_t serial = options.release.serial.value_or(signing ? nextSerial(tree) : 0);
  // Chunks and indexes go up before the release that names them, as they are to be uploaded.
  if (!verifyBodies(built.bodies, budgetRoot(options.rootBudget), result.problems) ||
      (signing && options.release.chunks &&
       !storeChunks(tree, built.hashed, result.chunks, result.problems)) ||
      (signing && !makeRelease(built, options.release, serial, release, result.problems)) ||
      !writeLists(tree, built.bodies, result.problems, release)) {
    return result;
  }
  result.written = true;
  result.folders = built.folders;
  result.files = built.files;
  result.digests = built.distinctDigests;
  if (signing) {
    result.serial = serial;
  }
  return result;
}

}  // namespace vestrel::publish
