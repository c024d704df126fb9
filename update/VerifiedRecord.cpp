#include "update/VerifiedRecord.h"

#include <charconv>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Platform.h"
#include "support/HeldFiles.h"
#include "support/LocalPaths.h"
#include "update/InstallState.h"
#include "update/lists/OwnFiles.h"

namespace vestrel {
namespace {

constexpr std::string_view kFormatLine = "vestrel-state 1";
// A record whose moment is this far ahead of the clock was written under another clock.
constexpr std::chrono::minutes kClockSlack{5};
// The header's lines before the first file's.
constexpr std::size_t kHeaderLines = 4;

// The next LF-ended line of `rest`, taken off it; false at the end or on a line without LF.
bool nextLine(std::string_view& rest, std::string_view& line) {
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) {
    return false;
  }
  line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  return true;
}

// The text after `key` and one space, when `line` starts so.
bool keyed(std::string_view line, std::string_view key, std::string_view& value) {
  if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ' ') {
    return false;
  }
  value = line.substr(key.size() + 1);
  return true;
}

// The first space-separated field of `line`, taken off it.
template <typename Number>
bool numberField(std::string_view& line, Number& out) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) {
    return false;
  }
  const auto [end, error] = std::from_chars(line.data(), line.data() + space, out);
  line.remove_prefix(space + 1);
  return error == std::errc() && end == line.data() - 1;
}

}  // namespace

VerifiedRecord::PathKey VerifiedRecord::keyOf(std::string_view relative) {
  // FNV-1a beside the library's hash: the two share nothing.
  std::uint64_t fnv = 14695981039346656037ull;
  for (const char c : relative) {
    fnv = (fnv ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return {std::hash<std::string_view>{}(relative), fnv};
}

bool VerifiedRecord::takeLine(std::string_view line, const Expected& expected) {
  std::string_view value;
  switch (lines_++) {
    case 0:
      return line == kFormatLine;
    case 1:
      return keyed(line, "version", value) && value == expected.version;
    case 2:
      return keyed(line, "root", value) && value == expected.root;
    case 3: {
      long long seconds = 0;
      if (!keyed(line, "since", value) ||
          std::from_chars(value.data(), value.data() + value.size(), seconds).ec != std::errc()) {
        return false;
      }
      since_ = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
      return since_ <= expected.now + kClockSlack && expected.now - since_ <= kRecordLifetime;
    }
    default:
      break;
  }
  RecordedFile file;
  if (!numberField(line, file.stamp.size) || !numberField(line, file.stamp.modified) ||
      !numberField(line, file.stamp.identity) || line.size() < 34 || line[32] != ' ') {
    return false;
  }
  line.copy(file.md5.data(), file.md5.size());
  files_.emplace(keyOf(line.substr(33)), file);
  return true;
}

bool VerifiedRecord::parse(std::string_view text, std::string_view root, std::string_view version,
                           std::chrono::system_clock::time_point now) {
  files_.clear();
  lines_ = 0;
  const Expected expected{root, version, now};
  std::string_view line;
  while (nextLine(text, line)) {
    if (!takeLine(line, expected)) {
      files_.clear();
      return false;
    }
  }
  // A record cut short is not read at all.
  if (!text.empty() || lines_ < kHeaderLines) {
    files_.clear();
    return false;
  }
  return true;
}

bool VerifiedRecord::load(const std::string& root) {
  files_.clear();
  lines_ = 0;
  // Read a block at a time: a game's record is megabytes, and the run's other tables are
  // already in memory beside it.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      platform::openFile(joinPath(root, kStateFileName), "rb"), &std::fclose);
  const Expected expected{root, VESTREL_PROGRAM_VERSION, std::chrono::system_clock::now()};
  std::string pending;
  std::vector<char> block(256 * 1024);
  std::size_t got = 0;
  bool good = file != nullptr;
  while (good && (got = std::fread(block.data(), 1, block.size(), file.get())) > 0) {
    pending.append(block.data(), got);
    std::string_view rest = pending;
    std::string_view line;
    while (good && nextLine(rest, line)) {
      good = takeLine(line, expected);
    }
    pending.erase(0, pending.size() - rest.size());
  }
  if (!good || file == nullptr || std::ferror(file.get()) != 0 || !pending.empty() ||
      lines_ < kHeaderLines) {
    files_.clear();
    return false;
  }
  return true;
}

std::string VerifiedRecord::takeUnchangedDigest(const std::string& relative,
                                                const platform::FileStamp& stamp) {
  const auto found = files_.find(keyOf(relative));
  if (found == files_.end()) {
    return {};
  }
  std::string digest(found->second.stamp == stamp ? found->second.digest() : std::string_view());
  files_.erase(found);
  return digest;
}

namespace {

std::string recordHeader(std::string_view root, std::string_view version,
                         std::chrono::system_clock::time_point since) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(since.time_since_epoch()).count();
  return std::string(kFormatLine) + "\nversion " + std::string(version) + "\nroot " +
         std::string(root) + "\nsince " + std::to_string(seconds) + "\n";
}

void appendRecordLine(std::string& text, const std::string& relative, const RecordedFile& file) {
  text.append(std::to_string(file.stamp.size)).append(" ");
  text.append(std::to_string(file.stamp.modified)).append(" ");
  text.append(std::to_string(file.stamp.identity)).append(" ");
  text.append(file.digest()).append(" ").append(relative).append("\n");
}

// Writes the record to `file` a block at a time: a game's record is megabytes.
bool writeRecord(std::FILE* file, const InstallState& state) {
  std::string block =
      recordHeader(state.installFolder, VESTREL_PROGRAM_VERSION, state.verifiedSince);
  for (const auto& [relative, recorded] : state.verifiedFiles) {
    appendRecordLine(block, relative, recorded);
    if (block.size() >= 64 * 1024) {
      if (std::fwrite(block.data(), 1, block.size(), file) != block.size()) {
        return false;
      }
      block.clear();
    }
  }
  return std::fwrite(block.data(), 1, block.size(), file) == block.size();
}

}  // namespace

std::string formatVerifiedRecord(std::string_view root, std::string_view version,
                                 std::chrono::system_clock::time_point since,
                                 const std::vector<std::pair<std::string, RecordedFile>>& files) {
  std::string text = recordHeader(root, version, since);
  for (const auto& [relative, file] : files) {
    appendRecordLine(text, relative, file);
  }
  return text;
}

void noteVerified(InstallState& state, const std::string& path, const platform::FileStamp& stamp,
                  std::string_view md5) {
  const std::string& root = state.installFolder;
  RecordedFile file{stamp};
  if (md5.size() != file.md5.size() || path.size() <= root.size() ||
      path.compare(0, root.size(), root) != 0) {
    return;
  }
  md5.copy(file.md5.data(), file.md5.size());
  state.verifiedFiles.emplace_back(path.substr(root.size()), file);
}

void noteVerified(InstallState& state, const std::string& path, std::string_view md5) {
  platform::FileStamp stamp;
  if (platform::readFileStamp(path, stamp)) {
    noteVerified(state, path, stamp, md5);
  }
}

void saveVerifiedRecord(const InstallState& state) {
  const std::string path = joinPath(state.installFolder, kStateFileName);
  const std::string temporary = path + kPartialSuffix;
  std::FILE* file = platform::openFile(temporary, "wb");
  bool written = file != nullptr;
  if (written) {
    written = writeRecord(file, state);
    written = std::fclose(file) == 0 && written;
  }
  int error = 0;
  if (!written || !replaceWhenFree(temporary, path, error)) {
    // An old record must not outlive a run that could not replace it.
    removeIfPresent(temporary);
    removeIfPresent(path);
  }
}

}  // namespace vestrel
