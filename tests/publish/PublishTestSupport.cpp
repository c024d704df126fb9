#include "PublishTestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vestrel::publish::test {
namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& argument) {
  std::string out = "'";
  for (const char c : argument) {
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}

}  // namespace

TempTree::TempTree() : path_(dir_.path().string()) {}

void TempTree::put(const std::string& relative, const std::string& bytes) const {
  vestrel::test::writeFile(fs::path(path_) / relative, bytes);
}

void TempTree::makeFolder(const std::string& relative) const {
  fs::create_directories(fs::path(path_) / relative);
}

std::string TempTree::read(const std::string& relative) const {
  return vestrel::test::readFile(fs::path(path_) / relative);
}

std::map<std::string, std::string> TempTree::listFolder() const {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(path_) / ".launcher", error)) {
    files[entry.path().filename().string()] = vestrel::test::readFile(entry.path());
  }
  return files;
}

std::vector<std::string> Run::errLines() const {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

Run runPublish(const std::vector<std::string>& arguments) {
  const TempTree capture;
  const std::string outPath = capture.path() + "/out";
  const std::string errPath = capture.path() + "/err";
  std::string command = quoted(VESTREL_PUBLISH_PROGRAM);
  for (const std::string& argument : arguments) {
    command += " " + quoted(argument);
  }
  command += " >" + quoted(outPath) + " 2>" + quoted(errPath) + " </dev/null";
  const int raw = std::system(command.c_str());
  Run run;
  run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = vestrel::test::readFile(outPath);
  run.err = vestrel::test::readFile(errPath);
  return run;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& tree,
             const std::string& path, const std::string& ruleText) {
  const std::string start = tree + (path.empty() ? "" : "/" + path) + ": " + ruleText;
  for (const std::string& line : lines) {
    if (line.compare(0, start.size(), start) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace vestrel::publish::test
