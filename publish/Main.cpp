// vestrel-publish: makes and checks the lists a launcher tree is served with, and signs its
// releases.
//
//   vestrel-publish make [--root-budget N] TREE [--sign SECRET_FILE [--expires TIME]
//                        [--serial N] [--chunks]]
//   vestrel-publish check [--root-budget N] TREE [--key PUBLIC_KEY]
//   vestrel-publish prune TREE --older-than DAYS
//   vestrel-publish keygen SECRET_FILE
//
// Exit status: 0 done, 1 the tree was refused or differs from its lists (one line per
// problem on standard error), or a key could not be made or used; 2 wrong arguments.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "publish/ChunkStore.h"
#include "publish/Commands.h"
#include "publish/Problem.h"
#include "publish/Progress.h"
#include "publish/Release.h"
#include "support/LocalPaths.h"
#include "support/Windows1251.h"
#include "update/chunks/ChunkIndex.h"
#include "update/lists/ReleaseFile.h"
#include "update/lists/ReleaseSignature.h"

namespace {

using namespace vestrel::publish;

constexpr char kUsage[] =
    "usage: vestrel-publish make [--root-budget N] TREE\n"
    "                            [--sign SECRET_FILE [--expires TIME] [--serial N] [--chunks]]\n"
    "       vestrel-publish check [--root-budget N] TREE [--key PUBLIC_KEY]\n"
    "       vestrel-publish prune TREE --older-than DAYS\n"
    "       vestrel-publish keygen SECRET_FILE\n"
    "\n"
    "make    checks that the players' installers can take every folder and file of TREE and\n"
    "        writes TREE/.launcher/udirs.lists, ufile.lists and uhash.lists; nothing is\n"
    "        written when any rule fails. With --sign it then writes the release,\n"
    "        TREE/.launcher/urelease.lists: every list and file by size, SHA-256 and MD5,\n"
    "        signed with the secret key.\n"
    "check   compares TREE with its lists; with --key also with its release, which that key\n"
    "        must have signed, and with the chunks and indexes the release names.\n"
    "prune   removes from TREE/.launcher/chunks/ every chunk and index that the tree's\n"
    "        release does not name and that is older than DAYS days.\n"
    "keygen  makes a key pair: the secret key goes into the new file SECRET_FILE, readable by\n"
    "        its owner only (an existing file is never replaced); the public key, for the\n"
    "        installer's VESTREL_PUBLISHER_KEYS, is the last line printed.\n"
    "\n"
    "--root-budget N  bytes left for the player's install folder, its final '/' included\n"
    "                 (1 to 259, default 100); every path must fit 259 bytes after it.\n"
    "--sign FILE      the secret key file that keygen wrote.\n"
    "--expires TIME   installers refuse the release from TIME on (UTC, YYYY-MM-DDTHH:MM:SSZ).\n"
    "--serial N       the release's serial (default: one more than the tree's release, or 1);\n"
    "                 installers refuse a serial below one they have accepted.\n"
    "--chunks         also cut every file of 1 MiB or more into chunks, stored once each under\n"
    "                 TREE/.launcher/chunks/ with an index per file, so that an update costs\n"
    "                 the players only what changed (a release of format 2).\n"
    "--key KEY        the public key (base64) the release must be signed with.\n"
    "--older-than N   prune only what has not changed for N days.\n"
    "\n"
    "Exit status: 0 done, 1 refused or different (one line per problem) or a key that could\n"
    "not be made or used, 2 wrong arguments.\n";

enum class Command { Make, Check, Prune, Keygen };

struct Arguments {
  Command command = Command::Make;
  std::string operand;         // the tree, or the key file keygen writes
  std::string keyFile;         // make's --sign
  unsigned olderThanDays = 0;  // prune's --older-than
  Options options;
};

// The options' texts as given, checked once all are in.
struct OptionTexts {
  const char* rootBudget = nullptr;
  const char* sign = nullptr;
  const char* expires = nullptr;
  const char* serial = nullptr;
  const char* key = nullptr;
  const char* olderThan = nullptr;
  bool chunks = false;
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

bool parseSerial(const char* text, std::uint64_t& serial) {
  const char* const end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, serial);
  return *text >= '0' && *text <= '9' && error == std::errc() && stop == end;
}

// Takes argv[i] when it is an option, as "--name VALUE" or "--name=VALUE", into its slot of
// `texts`; `taken` false when it is none. False for an option the command does not take, one
// without its value, or one given twice.
bool takeOption(int argc, char** argv, int& i, Command command, OptionTexts& texts, bool& taken) {
  const struct {
    const char* name;
    bool allowed;
    const char** slot;
  } options[] = {
      {"--root-budget", command == Command::Make || command == Command::Check, &texts.rootBudget},
      {"--sign", command == Command::Make, &texts.sign},
      {"--expires", command == Command::Make, &texts.expires},
      {"--serial", command == Command::Make, &texts.serial},
      {"--key", command == Command::Check, &texts.key},
      {"--older-than", command == Command::Prune, &texts.olderThan},
  };
  taken = std::strcmp(argv[i], "--chunks") == 0;
  if (taken) {
    const bool first = !texts.chunks;
    texts.chunks = true;
    return command == Command::Make && first;
  }
  for (const auto& option : options) {
    const std::size_t length = std::strlen(option.name);
    const char* const argument = argv[i];
    if (std::strncmp(argument, option.name, length) != 0 ||
        (argument[length] != '\0' && argument[length] != '=')) {
      continue;
    }
    taken = true;
    const char* value = argument[length] == '=' ? argument + length + 1
                        : i + 1 < argc          ? argv[++i]
                                                : nullptr;
    if (!option.allowed || value == nullptr || *value == '\0' || *option.slot != nullptr) {
      return false;
    }
    *option.slot = value;
    return true;
  }
  return true;
}

// The options' values, each checked. False, with the reason in `why` when the usage alone
// does not say it, for one that is wrong.
bool applyOptions(const OptionTexts& texts, Arguments& out, std::string& why) {
  ReleaseOptions& release = out.options.release;
  std::int64_t expiresAt = 0;
  if (texts.rootBudget != nullptr && !parseBudget(texts.rootBudget, out.options.rootBudget)) {
    return false;
  }
  if ((texts.expires != nullptr || texts.serial != nullptr) && texts.sign == nullptr) {
    why = "--expires and --serial describe a release: they go with --sign";
    return false;
  }
  if (texts.chunks && texts.sign == nullptr) {
    why = "--chunks needs a signed release to name the chunks: it goes with --sign";
    return false;
  }
  std::uint64_t days = 0;
  if (out.command == Command::Prune &&
      (texts.olderThan == nullptr || !parseSerial(texts.olderThan, days) || days > 36500)) {
    why = "prune wants --older-than DAYS, a whole number of days";
    return false;
  }
  out.olderThanDays = static_cast<unsigned>(days);
  release.chunks = texts.chunks;
  if (texts.expires != nullptr && !vestrel::parseUtcTime(texts.expires, expiresAt)) {
    why = "--expires wants a UTC time such as 2030-01-31T12:00:00Z";
    return false;
  }
  std::uint64_t serial = 0;
  if (texts.serial != nullptr && !parseSerial(texts.serial, serial)) {
    why = "--serial wants a whole number";
    return false;
  }
  if (texts.key != nullptr && !vestrel::decodePublicKey(texts.key, release.publicKey)) {
    why = "--key wants a public key as keygen prints it (base64 of 32 bytes)";
    return false;
  }
  release.expires = texts.expires != nullptr ? texts.expires : "";
  if (texts.serial != nullptr) {
    release.serial = serial;
  }
  out.keyFile = texts.sign != nullptr ? texts.sign : "";
  return true;
}

bool parseArguments(int argc, char** argv, Arguments& out, std::string& why) {
  if (argc < 2) {
    return false;
  }
  const std::string command = argv[1];
  if (command == "make" || command == "check" || command == "prune" || command == "keygen") {
    out.command = command == "make"    ? Command::Make
                  : command == "check" ? Command::Check
                  : command == "prune" ? Command::Prune
                                       : Command::Keygen;
  } else {
    return false;
  }
  OptionTexts texts;
  bool haveOperand = false;
  for (int i = 2; i < argc; ++i) {
    bool taken = false;
    if (!takeOption(argc, argv, i, out.command, texts, taken)) {
      return false;
    }
    const std::string argument = argv[i];
    if (taken) {
      continue;
    }
    if (argument.empty() || argument[0] == '-' || haveOperand) {
      return false;
    }
    out.operand = argument;
    haveOperand = true;
  }
  return haveOperand && applyOptions(texts, out, why);
}

int reportProblems(const std::string& tree, const Problems& problems) {
  for (const Problem& problem : problems) {
    std::fprintf(stderr, "%s\n", problemLine(tree, problem).c_str());
  }
  return 1;
}

int runKeygen(const std::string& path) {
  std::string publicKey;
  std::string why;
  if (!makeKeyFile(path, publicKey, why)) {
    std::fprintf(stderr, "vestrel-publish: no key written to %s: %s\n",
                 vestrel::printableName(path).c_str(), why.c_str());
    return 1;
  }
  std::printf(
      "secret key written to %s (keep it off the server); the public key, for "
      "-DVESTREL_PUBLISHER_KEYS:\n%s\n",
      vestrel::printableName(path).c_str(), publicKey.c_str());
  return 0;
}

int runMake(const Arguments& arguments) {
  Options options = arguments.options;
  const vestrel::WipedOnExit wipe(options.release.secretKey);
  const std::string& tree = arguments.operand;
  std::string why;
  // Before anything is scanned or written: a key that cannot sign would waste the hashing
  // and leave lists without the release that vouches for them.
  if (!arguments.keyFile.empty() &&
      !readKeyFile(arguments.keyFile, options.release.secretKey, why)) {
    std::fprintf(stderr, "vestrel-publish: the secret key %s cannot be used: %s\n",
                 vestrel::printableName(arguments.keyFile).c_str(), why.c_str());
    return 1;
  }
  const MakeResult made = makeLists(tree, options);
  if (!made.written) {
    return reportProblems(tree, made.problems);
  }
  std::printf("%s/.launcher: %zu folders, %zu files, %zu digests listed\n",
              vestrel::printableName(tree).c_str(), made.folders, made.files, made.digests);
  if (options.release.chunks) {
    std::printf("%s/%s: %zu files in %zu chunks, %zu of them new (%.1f MiB)\n",
                vestrel::printableName(tree).c_str(), vestrel::kChunksFolder, made.chunks.files,
                made.chunks.chunks, made.chunks.stored,
                static_cast<double>(made.chunks.storedBytes) / (1 << 20));
  }
  std::string publicKey;
  std::string key;
  if (made.serial.has_value() && vestrel::publicKeyOf(options.release.secretKey, publicKey) &&
      vestrel::decodePublicKey(publicKey, key)) {
    std::printf("%s/.launcher/%s: release %llu signed with the key %s\n",
                vestrel::printableName(tree).c_str(), vestrel::kReleaseFileName,
                static_cast<unsigned long long>(*made.serial), vestrel::releaseKeyId(key).c_str());
  }
  return 0;
}

int runPrune(const Arguments& arguments) {
  const std::string& tree = arguments.operand;
  std::string bytes;
  std::string why;
  bool missing = false;
  vestrel::Release release;
  std::size_t removed = 0;
  // Without the release that names what is in use, everything would look unused.
  if (!readSmallFile(vestrel::joinPath(tree, releasePath()), vestrel::kMaxReleaseBytes, bytes,
                     missing, why) ||
      !vestrel::readRelease(bytes, release, why) ||
      !pruneChunks(tree, release, arguments.olderThanDays, removed, why)) {
    std::fprintf(stderr, "vestrel-publish: nothing pruned in %s: %s\n",
                 vestrel::printableName(tree).c_str(), missing ? "it has no release" : why.c_str());
    return 1;
  }
  std::printf("%s/%s: %zu chunks and indexes removed\n", vestrel::printableName(tree).c_str(),
              vestrel::kChunksFolder, removed);
  return 0;
}

int runCheck(const Arguments& arguments) {
  const std::string& tree = arguments.operand;
  const CheckResult checked = checkLists(tree, arguments.options);
  if (!checked.consistent) {
    return reportProblems(tree, checked.differences);
  }
  std::printf("%s: the lists %smatch the tree\n", vestrel::printableName(tree).c_str(),
              arguments.options.release.publicKey.empty() ? "" : "and the signed release ");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  std::string why;
  if (!parseArguments(argc, argv, arguments, why)) {
    std::fputs(kUsage, stderr);
    if (!why.empty()) {
      std::fprintf(stderr, "\nvestrel-publish: %s\n", why.c_str());
    }
    return 2;
  }
  arguments.options.progress = stderrIsTerminal();
  switch (arguments.command) {
    case Command::Keygen:
      return runKeygen(arguments.operand);
    case Command::Make:
      return runMake(arguments);
    case Command::Prune:
      return runPrune(arguments);
    case Command::Check:
      break;
  }
  return runCheck(arguments);
}
