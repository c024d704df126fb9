#include "update/net/ResumablePart.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>

#include "platform/Platform.h"
#include "support/FileHandle.h"
#include "support/HeldFiles.h"
#include "support/LocalPaths.h"
#include "update/RunContext.h"
#include "update/lists/OwnFiles.h"

namespace vestrel {
namespace {

constexpr std::string_view kSidecarHeader = "vestrel-resume 1";
// Longer than any validator a server sends; a longer line is not one.
constexpr std::size_t kMostValidatorBytes = 1024;

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// One line of printable ASCII: what goes back to the server in a header.
bool fitsOneHeader(std::string_view value) {
  if (value.empty() || value.size() > kMostValidatorBytes) {
    return false;
  }
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
      return false;
    }
  }
  return true;
}

bool parseNumber(std::string_view text, std::uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "bytes FIRST-LAST/TOTAL", TOTAL possibly "*".
void takeContentRange(std::string_view value, AnswerHeads& heads) {
  constexpr std::string_view kUnit = "bytes ";
  if (!value.starts_with(kUnit)) {
    return;
  }
  value.remove_prefix(kUnit.size());
  const std::size_t dash = value.find('-');
  const std::size_t slash = value.find('/');
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash ||
      !parseNumber(value.substr(0, dash), first) ||
      !parseNumber(value.substr(dash + 1, slash - dash - 1), last) || last < first) {
    return;
  }
  std::uint64_t total = 0;
  const std::string_view totalText = value.substr(slash + 1);
  if (totalText != "*" && (!parseNumber(totalText, total) || total <= last)) {
    return;
  }
  heads.ranged = true;
  heads.rangeStart = first;
  heads.total = total;
}

}  // namespace

std::string partPath(const std::string& finalPath) {
  return finalPath + kPartialSuffix;
}

std::string sidecarPath(const std::string& finalPath) {
  return finalPath + kResumeSuffix;
}

bool readValidator(const std::string& finalPath, std::string& validator) {
  const FileHandle file(platform::openFile(sidecarPath(finalPath), "rb"));
  if (file == nullptr) {
    return false;
  }
  char buffer[kSidecarHeader.size() + kMostValidatorBytes + 4];
  const std::size_t length = std::fread(buffer, 1, sizeof buffer, file.get());
  const std::string_view text(buffer, length);
  const std::size_t firstEnd = text.find('\n');
  if (firstEnd == std::string_view::npos || text.substr(0, firstEnd) != kSidecarHeader ||
      !text.ends_with('\n')) {
    return false;
  }
  const std::string_view value = text.substr(firstEnd + 1, text.size() - firstEnd - 2);
  if (!fitsOneHeader(value)) {
    return false;
  }
  validator.assign(value);
  return true;
}

bool writeValidator(const std::string& finalPath, const std::string& validator) {
  if (!fitsOneHeader(validator)) {
    return false;
  }
  const std::string path = sidecarPath(finalPath);
  std::FILE* file = platform::openFile(path, "wb");
  if (file == nullptr) {
    return false;
  }
  const std::string text = std::string(kSidecarHeader) + "\n" + validator + "\n";
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    removeIfPresent(path);
    return false;
  }
  return true;
}

void removeResumable(const std::string& finalPath) {
  int error = 0;
  removeWhenFree(partPath(finalPath), error, runContext().run.stopToken());
  removeWhenFree(sidecarPath(finalPath), error, runContext().run.stopToken());
}

bool AnswerHeads::take(std::string_view line) {
  if (line.starts_with("HTTP/")) {
    *this = {};
    return false;
  }
  const std::string_view bare = trimmed(line);
  if (bare.empty()) {
    return true;
  }
  const std::size_t colon = bare.find(':');
  if (colon == std::string_view::npos) {
    return false;
  }
  const std::string_view name = bare.substr(0, colon);
  const std::string_view value = trimmed(bare.substr(colon + 1));
  if (sameName(name, "ETag")) {
    etag.assign(value);
  } else if (sameName(name, "Last-Modified")) {
    lastModified.assign(value);
  } else if (sameName(name, "Content-Range")) {
    takeContentRange(value, *this);
  }
  return false;
}

std::string AnswerHeads::validator() const {
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"' && fitsOneHeader(etag)) {
    return etag;
  }
  return fitsOneHeader(lastModified) ? lastModified : std::string();
}

}  // namespace vestrel
