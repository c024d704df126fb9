#include "tests/TestSupport.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/Log.h"
#include "update/digest/Md5.h"

namespace vestrel::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vestrel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string md5Of(const std::string& bytes) {
  Md5 md5;
  md5.add(bytes.data(), bytes.size());
  return md5.finishText();
}

void boxIntoLog(const std::string&, const std::string& text) {
  logMessage("BOX " + text);
}

std::size_t stampLength(const std::string& text, std::size_t at, std::vector<int>* fields) {
  // "[" six numbers separated by "-" "]"
  if (at >= text.size() || text[at] != '[') {
    return 0;
  }
  std::size_t pos = at + 1;
  for (int field = 0; field < 6; ++field) {
    const std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 4) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    if (pos == start || pos >= text.size() || text[pos] != (field == 5 ? ']' : '-')) {
      return 0;
    }
    if (fields != nullptr) {
      fields->push_back(value);
    }
    ++pos;
  }
  return pos - at;
}

std::string withoutStamps(const std::string& logText) {
  std::string out;
  for (std::size_t i = 0; i < logText.size();) {
    const std::size_t length = stampLength(logText, i, nullptr);
    if (length > 0) {
      out += "[T]";
      i += length;
    } else {
      out += logText[i++];
    }
  }
  return out;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace vestrel::test
