#include "update/ManifestLines.h"

#include <cstdio>

namespace vestrel {

void readListLines(const std::string& narrowPath,
                   const std::function<bool(const std::string&)>& onLine) {
  std::FILE* file = std::fopen(narrowPath.c_str(), "rb");
  if (file == nullptr) {
    return;
  }
  std::string line;
  bool pending = false;  // bytes read since the last LF
  char chunk[65536];
  std::size_t got = 0;
  bool go = true;
  while (go && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    for (std::size_t i = 0; i < got && go; ++i) {
      if (chunk[i] != '\n') {
        line.push_back(chunk[i]);
        pending = true;
        continue;
      }
      // Lists may come with CR LF line ends; only the CR that ends the line is dropped.
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      go = onLine(line);
      line.clear();
      pending = false;
    }
  }
  if (go && pending) {
    onLine(line);
  }
  std::fclose(file);
}

bool leavesInstallRoot(std::string_view line) {
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find_first_of("/\\", start);
    if (end == std::string_view::npos) {
      end = line.size();
    }
    if (line.substr(start, end - start) == "..") {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace vestrel
