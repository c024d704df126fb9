#include "update/VerifiedRecord.h"

#include <charconv>
#include <cstdio>
#include <memory>

#include "platform/Platform.h"
#include "support/LocalPaths.h"
#include "update/InstallState.h"
#include "update/lists/OwnFiles.h"

namespace vestrel {
namespace {

constexpr std::string_view kFormatLine = "vestrel-state 1";
// A record whose moment is this far ahead of the clock was written under another clock.
constexpr std::chrono::minutes kClockSlack{5};
// Big enough for a game's record (a line per file).
constexpr std::size_t kMaxRecordBytes = std::size_t{256} << 20;

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

bool readWhole(const std::string& path, std::string& bytes) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::openFile(path, "rb"),
                                                       &std::fclose);
  if (file == nullptr) {
    return false;
  }
  char block[64 * 1024];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    if (bytes.size() + got > kMaxRecordBytes) {
      return false;
    }
    bytes.append(block, got);
  }
  return std::ferror(file.get()) == 0;
}

}  // namespace

bool VerifiedRecord::parse(std::string_view text, std::string_view root, std::string_view version,
                           std::chrono::system_clock::time_point now) {
  files_.clear();
  std::string_view line;
  std::string_view value;
  long long seconds = 0;
  if (!nextLine(text, line) || line != kFormatLine || !nextLine(text, line) ||
      !keyed(line, "version", value) || value != version || !nextLine(text, line) ||
      !keyed(line, "root", value) || value != root || !nextLine(text, line) ||
      !keyed(line, "since", value) ||
      std::from_chars(value.data(), value.data() + value.size(), seconds).ec != std::errc()) {
    return false;
  }
  since_ = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
  if (since_ > now + kClockSlack || now - since_ > kRecordLifetime) {
    return false;
  }
  while (nextLine(text, line)) {
    RecordedFile file;
    std::string_view md5;
    if (!numberField(line, file.stamp.size) || !numberField(line, file.stamp.modified) ||
        !numberField(line, file.stamp.identity) || line.size() < 34 || line[32] != ' ') {
      files_.clear();
      return false;
    }
    file.md5 = std::string(line.substr(0, 32));
    files_.emplace(std::string(line.substr(33)), std::move(file));
  }
  if (!text.empty()) {
    files_.clear();  // a record cut short is not read at all
    return false;
  }
  return true;
}

bool VerifiedRecord::load(const std::string& root) {
  std::string bytes;
  if (!readWhole(joinPath(root, kStateFileName), bytes)) {
    files_.clear();
    return false;
  }
  return parse(bytes, root, VESTREL_PROGRAM_VERSION, std::chrono::system_clock::now());
}

const std::string* VerifiedRecord::unchangedDigest(const std::string& relative,
                                                   const platform::FileStamp& stamp) const {
  const auto found = files_.find(relative);
  return found != files_.end() && found->second.stamp == stamp ? &found->second.md5 : nullptr;
}

std::string formatVerifiedRecord(std::string_view root, std::string_view version,
                                 std::chrono::system_clock::time_point since,
                                 const std::vector<std::pair<std::string, RecordedFile>>& files) {
  std::string text;
  text.reserve(128 + files.size() * 96);
  text.append(kFormatLine).append("\nversion ").append(version).append("\nroot ").append(root);
  text.append("\nsince ")
      .append(std::to_string(
          std::chrono::duration_cast<std::chrono::seconds>(since.time_since_epoch()).count()))
      .append("\n");
  for (const auto& [relative, file] : files) {
    text.append(std::to_string(file.stamp.size)).append(" ");
    text.append(std::to_string(file.stamp.modified)).append(" ");
    text.append(std::to_string(file.stamp.identity)).append(" ");
    text.append(file.md5).append(" ").append(relative).append("\n");
  }
  return text;
}

void noteVerified(InstallState& state, const std::string& path, const platform::FileStamp& stamp,
                  std::string md5) {
  const std::string& root = state.installFolder;
  if (md5.size() != 32 || path.size() <= root.size() || path.compare(0, root.size(), root) != 0) {
    return;
  }
  state.verifiedFiles.emplace_back(path.substr(root.size()), RecordedFile{stamp, std::move(md5)});
}

void noteVerified(InstallState& state, const std::string& path, std::string md5) {
  platform::FileStamp stamp;
  if (platform::readFileStamp(path, stamp)) {
    noteVerified(state, path, stamp, std::move(md5));
  }
}

void saveVerifiedRecord(const InstallState& state) {
  const std::string path = joinPath(state.installFolder, kStateFileName);
  const std::string temporary = path + kPartialSuffix;
  const std::string text = formatVerifiedRecord(state.installFolder, VESTREL_PROGRAM_VERSION,
                                                state.verifiedSince, state.verifiedFiles);
  std::FILE* file = platform::openFile(temporary, "wb");
  bool written = file != nullptr;
  if (written) {
    written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fclose(file) == 0 && written;
  }
  int error = 0;
  if (!written || !platform::replaceFile(temporary, path, error)) {
    // An old record must not outlive a run that could not replace it.
    removeIfPresent(temporary);
    removeIfPresent(path);
  }
}

}  // namespace vestrel
