#include <utility>

#include "publish/BuildLists.h"
#include "publish/Commands.h"
#include "publish/ListWriter.h"

namespace vestrel::publish {

MakeResult makeLists(const std::string& tree, const Options& options) {
  MakeResult result;
  BuiltLists built = buildLists(tree, options, OnRefusal::Stop);
  if (!built.problems.empty()) {
    result.problems = std::move(built.problems);
    return result;
  }
  if (!verifyBodies(built.bodies, budgetRoot(options.rootBudget), result.problems) ||
      !writeLists(tree, built.bodies, result.problems)) {
    return result;
  }
  result.written = true;
  result.folders = built.folders;
  result.files = built.files;
  result.digests = built.distinctDigests;
  return result;
}

}  // namespace vestrel::publish
