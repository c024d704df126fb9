// Runs a test from inside a folder, as the working directory the chooser starts in. Shared by
// the Linux and the Windows chooser tests.
#pragma once

#include <filesystem>

namespace vestrel::test {

class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& path)
      : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~WorkingDirectory() { std::filesystem::current_path(old_); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

}  // namespace vestrel::test
