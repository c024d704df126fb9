// One reason a tree cannot be published, or one way a tree and its lists differ.
#pragma once

#include <string>
#include <vector>

namespace vestrel::publish {

// Problem.cpp gives each its text in this order, ChunkDiffers last.
enum class Rule {
  // Rules a tree must pass before its lists are made.
  TooManyFiles,
  TooManyDigests,
  ControlByte,
  Backslash,
  SymbolicLink,
  NotRegular,
  ListFileName,
  InstallerFileName,
  CaseClash,
  ReservedName,
  TrailingDotOrSpace,
  ForbiddenCharacter,
  NotWindows1251,
  PathTooLong,
  ListTooLarge,
  Unreadable,
  ChangedWhileHashed,
  ListsNotWritten,
  ChunksNotWritten,
  // Differences between a tree and its lists.
  NotListed,
  ListedButMissing,
  DigestNotListed,
  DigestUnused,
  ListMissing,
  ListRefused,
  // Differences between a tree and its signed release.
  ReleaseMissing,
  ReleaseRefused,
  ReleaseNotSigned,
  ReleaseExpired,
  ReleaseListDiffers,
  NotInRelease,
  ReleaseNamesUnlisted,
  ReleaseOrder,
  ReleaseFileDiffers,
  ChunkDiffers,
};

struct Problem {
  std::string path;  // relative to the tree, '/'-separated, as the tree spells it; "" the tree
  Rule rule;
  std::string detail;  // what exactly, or empty
};

using Problems = std::vector<Problem>;

// The rule's short description, as the problem lines show it.
const char* ruleText(Rule rule);

// "TREE/PATH: RULE: DETAIL", with the path made printable.
std::string problemLine(const std::string& tree, const Problem& problem);

}  // namespace vestrel::publish
