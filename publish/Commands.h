// The tool's two commands, as functions of a tree.
#pragma once

#include <cstddef>
#include <string>

#include "publish/Problem.h"
#include "publish/PublishRules.h"

namespace vestrel::publish {

struct Options {
  std::size_t rootBudget = kDefaultRootBudget;  // bytes of install folder, trailing '/' included
  bool progress = false;                        // draw the hashing progress line on stderr
};

struct MakeResult {
  bool written = false;
  std::size_t folders = 0;
  std::size_t files = 0;
  std::size_t digests = 0;
  Problems problems;  // why nothing was written
};

// Checks the tree against every rule and, when it passes, replaces its three lists.
MakeResult makeLists(const std::string& tree, const Options& options);

struct CheckResult {
  bool consistent = false;
  Problems differences;
};

// Reads the tree's lists as the installer reads them and compares them with the lists `make`
// would write for the tree; a rule the tree breaks is reported as `make` reports it, and the
// rest of the tree is still compared.
CheckResult checkLists(const std::string& tree, const Options& options);

}  // namespace vestrel::publish
