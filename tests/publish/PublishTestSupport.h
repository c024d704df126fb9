// Temporary trees to publish, and runs of the real vestrel-publish program.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace vestrel::publish::test {

// A fresh folder under the system's temporary folder, removed with everything in it, to lay
// out a tree in.
class TempTree {
 public:
  TempTree();

  const std::string& path() const { return path_; }
  // Writes a file (its folders made as needed) at `relative`, a UTF-8 path.
  void put(const std::string& relative, const std::string& bytes) const;
  void makeFolder(const std::string& relative) const;
  std::string read(const std::string& relative) const;
  // Every file under .launcher/ by name, with its bytes.
  std::map<std::string, std::string> listFolder() const;

 private:
  vestrel::test::TempDir dir_;
  std::string path_;
};

struct Run {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
  std::vector<std::string> errLines() const;
};

// Runs vestrel-publish with `arguments`, its output captured in files (so never on a
// terminal).
Run runPublish(const std::vector<std::string>& arguments);

// True when one of the lines starts with "<tree>/<path>: <rule text>".
bool hasLine(const std::vector<std::string>& lines, const std::string& tree,
             const std::string& path, const std::string& ruleText);

}  // namespace vestrel::publish::test
