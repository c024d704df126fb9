#include "publish/Problem.h"

#include <cstddef>
#include <iterator>

#include "support/Windows1251.h"

namespace vestrel::publish {
namespace {

struct RuleText {
  Rule rule;
  const char* text;
};

// One text for each rule, in the order Problem.h gives them.
constexpr RuleText kRuleTexts[] = {
    {Rule::TooManyFiles, "more files than the lists hold"},
    {Rule::TooManyDigests, "more distinct digests than the lists hold"},
    {Rule::ControlByte, "control byte in the name"},
    {Rule::Backslash, "'\\' in the name"},
    {Rule::SymbolicLink, "symbolic link"},
    {Rule::NotRegular, "neither a folder nor a regular file"},
    {Rule::ListFileName, "file named like a list"},
    {Rule::InstallerFileName, "name of a file the installer keeps"},
    {Rule::CaseClash, "same name as another when letter case is ignored"},
    {Rule::ReservedName, "name reserved by Windows"},
    {Rule::TrailingDotOrSpace, "name ends in '.' or ' '"},
    {Rule::ForbiddenCharacter, "character Windows forbids in names"},
    {Rule::NotWindows1251, "name Windows-1251 cannot write"},
    {Rule::PathTooLong, "path too long"},
    {Rule::ListTooLarge, "list too large"},
    {Rule::Unreadable, "cannot be read"},
    {Rule::ChangedWhileHashed, "changed while it was read; publish once the tree is still"},
    {Rule::ListsNotWritten, "lists not written"},
    {Rule::ChunksNotWritten, "chunk store not written"},
    {Rule::NotListed, "not listed"},
    {Rule::ListedButMissing, "listed but missing"},
    {Rule::DigestNotListed, "digest not listed"},
    {Rule::DigestUnused, "listed digest matches no file"},
    {Rule::ListMissing, "list missing"},
    {Rule::ListRefused, "list refused by the installer"},
    {Rule::ReleaseMissing, "release missing"},
    {Rule::ReleaseRefused, "release refused by the installer"},
    {Rule::ReleaseNotSigned, "release not signed by the given key"},
    {Rule::ReleaseExpired, "release expired"},
    {Rule::ReleaseListDiffers, "list differs from the release"},
    {Rule::NotInRelease, "listed but not in the release"},
    {Rule::ReleaseNamesUnlisted, "in the release but not listed"},
    {Rule::ReleaseOrder, "file lines in another order or number than the file list's"},
    {Rule::ReleaseFileDiffers, "differs from the release"},
    {Rule::ChunkDiffers, "chunk store differs from the release"},
};

constexpr bool oneTextPerRule() {
  for (std::size_t i = 0; i < std::size(kRuleTexts); ++i) {
    if (static_cast<std::size_t>(kRuleTexts[i].rule) != i) {
      return false;
    }
  }
  return std::size(kRuleTexts) == static_cast<std::size_t>(Rule::ChunkDiffers) + 1;
}
static_assert(oneTextPerRule(), "every rule needs its text, in the order of the rules");

}  // namespace

const char* ruleText(Rule rule) {
  return kRuleTexts[static_cast<std::size_t>(rule)].text;
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
