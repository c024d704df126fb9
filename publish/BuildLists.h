// The lists a tree is to be served with, worked out in one place for both commands: `make`
// writes them, `check` compares them with the lists the tree has. Whatever either command
// learns to hold about a release is then held the same way by the other.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "publish/Commands.h"
#include "publish/ListWriter.h"
#include "publish/Problem.h"
#include "update/lists/ReleaseFile.h"

namespace vestrel::publish {

// What becomes of the hashing when the tree has already broken a rule.
enum class OnRefusal {
  Stop,      // hash nothing: the tree cannot be published, and hashing is the long part
  Continue,  // hash what passed, so that the rest of the tree can still be compared
};

// A hashed file: its tree path, and its list line with the size and digests a release names
// it by.
struct HashedFile {
  std::string path;
  ReleasedFile released;
};

struct BuiltLists {
  // False when the tree is no folder that can be listed: nothing else is known of it.
  bool treeRead = false;
  // Every regular file of the tree was hashed, so the digest body holds every digest the
  // tree has, not just some.
  bool everyFileHashed = false;
  // In kListKinds order, of the entries that passed the rules; the lists `make` writes when
  // `problems` is empty. Each path line is its tree path in Windows-1251.
  ListBodies bodies;
  std::map<std::string, std::string> digests;  // tree path of each hashed file: its digest
  std::vector<HashedFile> hashed;              // the same files, in the file list's order
  std::size_t folders = 0;
  std::size_t files = 0;
  std::size_t distinctDigests = 0;
  Problems problems;  // every rule the tree broke, as `make` reports it
};

// Scans `tree`, applies every rule under the install folder budget of `options`, hashes its
// files and makes the three bodies. With OnRefusal::Stop a tree that broke a rule before the
// hashing gets only its problems.
BuiltLists buildLists(const std::string& tree, const Options& options, OnRefusal onRefusal);

}  // namespace vestrel::publish
