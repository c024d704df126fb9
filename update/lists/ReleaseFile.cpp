#include "update/lists/ReleaseFile.h"

#include <charconv>

#include "support/HexText.h"
#include "update/chunks/ChunkCutter.h"
#include "update/lists/ListRules.h"

namespace vestrel {
namespace {

// No line the format allows is longer: a file line is its fields and a list line.
constexpr std::size_t kMaxReleaseLineBytes = 512;
constexpr std::size_t kMaxReleasedFiles = kMaxListLines;
// "chunks SIZE SHA256" with its LF.
constexpr std::size_t kMaxChunksLineBytes = 7 + 20 + 1 + 64 + 1;
static_assert(kMaxReleaseBytes >=
              kMaxReleasedFiles * (kMaxReleaseLineBytes + 1 + kMaxChunksLineBytes));

// The one way of cutting this installer knows, as the release names it.
std::string chunkingLine() {
  return "chunking fastcdc " + std::to_string(kMinChunk) + " " + std::to_string(kAverageChunk) +
         " " + std::to_string(kMaxChunk);
}

// Cuts the next LF-ended line off `rest`. False at the end, or for a line without its LF, a
// CR in it or one longer than any the format allows.
bool nextLine(std::string_view& rest, std::string_view& line, std::string& why) {
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) {
    why = rest.empty() ? "the file ends early" : "the last line has no line end";
    return false;
  }
  line = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  if (line.size() > kMaxReleaseLineBytes || line.find('\r') != std::string_view::npos) {
    why = "a line is too long or holds a CR";
    return false;
  }
  return true;
}

// Takes the next space-ended field; the last field of a line takes the rest.
std::string_view field(std::string_view& line, bool last = false) {
  const std::size_t end = last ? std::string_view::npos : line.find(' ');
  const std::string_view taken = line.substr(0, end);
  line.remove_prefix(end == std::string_view::npos ? line.size() : end + 1);
  return taken;
}

bool number(std::string_view text, std::uint64_t& value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) {
    return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool readHeader(std::string_view& rest, Release& release, std::string& why) {
  std::string_view line;
  if (!nextLine(rest, line, why) || (line != "vestrel-release 1" && line != "vestrel-release 2")) {
    why = why.empty() ? "not a release file of format 1 or 2" : why;
    return false;
  }
  release.format = line.back() - '0';
  if (!nextLine(rest, line, why) || field(line) != "serial" ||
      !number(field(line, true), release.serial)) {
    why = why.empty() ? "no serial" : why;
    return false;
  }
  std::string_view peek = rest;
  if (nextLine(peek, line, why) && line.starts_with("expires ")) {
    field(line);
    release.expires = std::string(field(line, true));
    if (!parseUtcTime(release.expires, release.expiresAt)) {
      why = "the expiry is not a UTC time";
      return false;
    }
    rest = peek;
  }
  if (release.format == kChunkedReleaseFormat) {
    if (!nextLine(rest, line, why) || line != chunkingLine()) {
      why = why.empty() ? "files are cut into chunks in a way this installer does not know" : why;
      return false;
    }
  }
  why.clear();
  return true;
}

bool readLists(std::string_view& rest, Release& release, std::string& why) {
  for (std::size_t i = 0; i < release.lists.size(); ++i) {
    std::string_view line;
    if (!nextLine(rest, line, why)) {
      return false;
    }
    ReleasedList& list = release.lists[i];
    if (field(line) != "list" || field(line) != kReleasedListNames[i] ||
        !number(field(line), list.size) || !isLowerHex(line, 64)) {
      why = std::string("no list line for ") + kReleasedListNames[i];
      return false;
    }
    list.sha256 = std::string(line);
  }
  return true;
}

// "file SIZE SHA256 MD5 LINE", `line` past its first word.
bool readFileLine(std::string_view line, Release& release, std::string& why) {
  ReleasedFile file;
  const std::string_view size = field(line);
  const std::string_view sha256 = field(line);
  const std::string_view md5 = field(line);
  file.line = std::string(field(line, true));
  if (!number(size, file.size) || !isLowerHex(sha256, 64) || !isLowerHex(md5, 32) ||
      file.line.empty()) {
    why = "a file line is not SIZE SHA256 MD5 LINE";
    return false;
  }
  if (release.files.size() == kMaxReleasedFiles) {
    why = "more files than a list may hold";
    return false;
  }
  file.sha256 = std::string(sha256);
  file.md5 = std::string(md5);
  release.files.push_back(std::move(file));
  return true;
}

// The file lines, then the signature line, which must end the file.
bool readBody(std::string_view bytes, std::string_view& rest, Release& release, std::string& why) {
  for (;;) {
    const std::size_t at = bytes.size() - rest.size();
    std::string_view line;
    if (!nextLine(rest, line, why)) {
      return false;
    }
    const std::string_view word = field(line);
    if (word == "file") {
      if (!readFileLine(line, release, why)) {
        return false;
      }
      continue;
    }
    if (word == "chunks") {
      // Once, right after its file's line, and only in a chunked release.
      ReleasedFile* file = release.files.empty() ? nullptr : &release.files.back();
      const std::string_view size = field(line);
      if (release.format != kChunkedReleaseFormat || file == nullptr ||
          !file->indexSha256.empty() || !number(size, file->indexSize) || file->indexSize == 0 ||
          !isLowerHex(line, 64) || file->size < kSmallestChunkedFile) {
        why = "a chunks line does not follow the line of a file that can be chunked";
        return false;
      }
      file->indexSha256 = std::string(line);
      continue;
    }
    release.keyId = std::string(field(line));
    release.signature = std::string(field(line, true));
    if (word != "signature" || !isLowerHex(release.keyId, 16) || release.signature.empty()) {
      why = "a line is neither a file line nor the signature";
      return false;
    }
    if (!rest.empty()) {
      why = "bytes follow the signature";
      return false;
    }
    release.signedLength = at;
    return true;
  }
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool digits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

}  // namespace

bool parseUtcTime(std::string_view text, std::int64_t& seconds) {
  static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z' || !digits(text, 0, 4, year) ||
      !digits(text, 5, 2, month) || !digits(text, 8, 2, day) || !digits(text, 11, 2, hour) ||
      !digits(text, 14, 2, minute) || !digits(text, 17, 2, second)) {
    return false;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

bool readRelease(std::string_view bytes, Release& release, std::string& why) {
  release = {};
  why.clear();
  if (bytes.size() > kMaxReleaseBytes) {
    why = "larger than a release file may be";
    return false;
  }
  std::string_view rest = bytes;
  return readHeader(rest, release, why) && readLists(rest, release, why) &&
         readBody(bytes, rest, release, why);
}

std::string releaseText(const Release& release) {
  std::string text = "vestrel-release " + std::to_string(release.format) + "\nserial " +
                     std::to_string(release.serial) + "\n";
  if (!release.expires.empty()) {
    text += "expires " + release.expires + "\n";
  }
  if (release.format == kChunkedReleaseFormat) {
    text += chunkingLine() + "\n";
  }
  for (std::size_t i = 0; i < release.lists.size(); ++i) {
    text += std::string("list ") + kReleasedListNames[i] + " " +
            std::to_string(release.lists[i].size) + " " + release.lists[i].sha256 + "\n";
  }
  for (const ReleasedFile& file : release.files) {
    text += "file " + std::to_string(file.size) + " " + file.sha256 + " " + file.md5 + " " +
            file.line + "\n";
    if (!file.indexSha256.empty()) {
      text += "chunks " + std::to_string(file.indexSize) + " " + file.indexSha256 + "\n";
    }
  }
  return text;
}

std::string releaseSignatureLine(std::string_view keyId, std::string_view signature) {
  return "signature " + std::string(keyId) + " " + std::string(signature) + "\n";
}

}  // namespace vestrel
