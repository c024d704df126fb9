// vestrel-publish: makes and checks the lists a launcher tree is served with.
//
//   vestrel-publish make [--root-budget N] TREE
//   vestrel-publish check [--root-budget N] TREE
//
// Exit status: 0 done, 1 the tree was refused or differs from its lists (one line per
// problem on standard error), 2 wrong arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "publish/Commands.h"
#include "publish/Problem.h"
#include "publish/Progress.h"
#include "support/Windows1251.h"
#include "update/InstallState.h"

namespace {

using namespace vestrel::publish;

constexpr char kUsage[] =
    "usage: vestrel-publish make [--root-budget N] TREE\n"
    "       vestrel-publish check [--root-budget N] TREE\n"
    "\n"
    "make   checks that the players' installers can take every folder and file of TREE and\n"
    "       writes TREE/.launcher/udirs.lists, ufile.lists and uhash.lists; nothing is\n"
    "       written when any rule fails.\n"
    "check  compares TREE with its lists.\n"
    "\n"
    "--root-budget N  bytes left for the player's install folder, its final '/' included\n"
    "                 (1 to 259, default 100); every path must fit 259 bytes after it.\n"
    "\n"
    "Exit status: 0 done, 1 refused or different (one line per problem), 2 wrong arguments.\n";

enum class Command { Make, Check };

struct Arguments {
  Command command = Command::Make;
  std::string tree;
  Options options;
};

bool parseBudget(const char* text, std::size_t& budget) {
  if (text == nullptr || *text < '0' || *text > '9' || std::strlen(text) > 3) {
    return false;
  }
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*end != '\0' || value < 1 || value >= vestrel::kPathBufferSize) {
    return false;
  }
  budget = value;
  return true;
}

bool parseArguments(int argc, char** argv, Arguments& out) {
  if (argc < 2) {
    return false;
  }
  const std::string command = argv[1];
  if (command == "make") {
    out.command = Command::Make;
  } else if (command == "check") {
    out.command = Command::Check;
  } else {
    return false;
  }
  bool haveTree = false;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--root-budget") {
      if (!parseBudget(i + 1 < argc ? argv[++i] : nullptr, out.options.rootBudget)) {
        return false;
      }
    } else if (argument.rfind("--root-budget=", 0) == 0) {
      if (!parseBudget(argv[i] + std::strlen("--root-budget="), out.options.rootBudget)) {
        return false;
      }
    } else if (argument.empty() || argument[0] == '-' || haveTree) {
      return false;
    } else {
      out.tree = argument;
      haveTree = true;
    }
  }
  return haveTree;
}

int reportProblems(const std::string& tree, const Problems& problems) {
  for (const Problem& problem : problems) {
    std::fprintf(stderr, "%s\n", problemLine(tree, problem).c_str());
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (!parseArguments(argc, argv, arguments)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  arguments.options.progress = stderrIsTerminal();
  const std::string& tree = arguments.tree;
  if (arguments.command == Command::Make) {
    const MakeResult made = makeLists(tree, arguments.options);
    if (!made.written) {
      return reportProblems(tree, made.problems);
    }
    std::printf("%s/.launcher: %zu folders, %zu files, %zu digests listed\n",
                vestrel::printableName(tree).c_str(), made.folders, made.files, made.digests);
    return 0;
  }
  const CheckResult checked = checkLists(tree, arguments.options);
  if (!checked.consistent) {
    return reportProblems(tree, checked.differences);
  }
  std::printf("%s: the lists match the tree\n", vestrel::printableName(tree).c_str());
  return 0;
}
