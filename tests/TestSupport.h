// Shared helpers for the tests: temporary folders, file contents, and recording stand-ins
// for the error box and the browser.
//
// Every test runs in a fresh run context (update/RunContext.h), made before the test starts and
// destroyed after it ends: nothing a case changes is seen by the next.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vestrel::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The folder as the install root keeps it: '/'-separated and ending in '/'.
  std::string root() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
// How many times `part` stands in `text`, overlaps counted.
std::size_t occurrences(const std::string& text, const std::string& part);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

struct RecordedBox {
  std::string title;
  std::string text;
};

// From its making on, the current context's error boxes and opened links are recorded
// instead of shown (for as long as the context lives: a run still going when the recorder
// goes records into what the context keeps).
class RecordingFakes {
 public:
  RecordingFakes();
  RecordingFakes(const RecordingFakes&) = delete;
  RecordingFakes& operator=(const RecordingFakes&) = delete;

  // Once the boxes of retried failures (shown on a thread of their own) are all answered.
  std::vector<RecordedBox> boxes() const;
  std::vector<std::string> links() const;
  // Boxes and links in the order they happened, as "box:<text>" and "link:<url>".
  std::vector<std::string> events() const;

 private:
  struct Recorded {
    std::mutex mutex;
    std::vector<RecordedBox> boxes;
    std::vector<std::string> links;
    std::vector<std::string> events;
  };
  std::shared_ptr<Recorded> recorded_ = std::make_shared<Recorded>();
};

// The MD5 digest of `bytes` as the lists write it.
std::string md5Of(const std::string& bytes);

// An error box stand-in that writes the box into the log as "BOX <text>", so that a child
// process's boxes can be read back, in order among the log lines, after it has ended.
void boxIntoLog(const std::string& title, const std::string& text);

// The log text with every timestamp "[y-m-d-h-m-s]" replaced by "[T]", so that whole logs
// can be compared byte for byte.
std::string withoutStamps(const std::string& logText);

// The length of a timestamp starting at `at` (0 when there is none), with its six numbers
// appended to `fields` when given.
std::size_t stampLength(const std::string& text, std::size_t at, std::vector<int>* fields);

}  // namespace vestrel::test
