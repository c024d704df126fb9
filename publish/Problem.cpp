#include "publish/Problem.h"

#include "support/Windows1251.h"

namespace vestrel::publish {

const char* ruleText(Rule rule) {
  switch (rule) {
    case Rule::TooManyFiles:
      return "more than 500 files";
    case Rule::TooManyDigests:
      return "more than 500 distinct digests";
    case Rule::ControlByte:
      return "control byte in the name";
    case Rule::Backslash:
      return "'\\' in the name";
    case Rule::SymbolicLink:
      return "symbolic link";
    case Rule::NotRegular:
      return "neither a folder nor a regular file";
    case Rule::ListFileName:
      return "file named like a list";
    case Rule::InstallerFileName:
      return "name of a file the installer keeps";
    case Rule::CaseClash:
      return "same name as another when letter case is ignored";
    case Rule::ReservedName:
      return "name reserved by Windows";
    case Rule::TrailingDotOrSpace:
      return "name ends in '.' or ' '";
    case Rule::ForbiddenCharacter:
      return "character Windows forbids in names";
    case Rule::NotWindows1251:
      return "name Windows-1251 cannot write";
    case Rule::PathTooLong:
      return "path too long";
    case Rule::ListTooLarge:
      return "list too large";
    case Rule::ChangedWhileHashed:
      return "changed while it was read; publish once the tree is still";
    case Rule::Unreadable:
      return "cannot be read";
    case Rule::ListsNotWritten:
      return "lists not written";
    case Rule::NotListed:
      return "not listed";
    case Rule::ListedButMissing:
      return "listed but missing";
    case Rule::DigestNotListed:
      return "digest not listed";
    case Rule::DigestUnused:
      return "listed digest matches no file";
    case Rule::ListMissing:
      return "list missing";
    case Rule::ListRefused:
      break;
  }
  return "list refused by the installer";
}

std::string problemLine(const std::string& tree, const Problem& problem) {
  std::string line = printableName(tree);
  if (!problem.path.empty()) {
    if (line.empty() || line.back() != '/') {
      line += '/';
    }
    line += printableName(problem.path);
  }
  line += ": ";
  line += ruleText(problem.rule);
  if (!problem.detail.empty()) {
    line += ": ";
    line += printableName(problem.detail);
  }
  return line;
}

}  // namespace vestrel::publish
