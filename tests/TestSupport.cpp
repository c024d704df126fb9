#include "tests/TestSupport.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/BoxGate.h"
#include "support/ErrorReport.h"
#include "support/HelpLinks.h"
#include "support/Log.h"
#include "update/InstallState.h"
#include "update/digest/Md5.h"

namespace vestrel::test {
namespace {

std::mutex g_mutex;
std::vector<RecordedBox> g_boxes;
std::vector<std::string> g_links;
std::vector<std::string> g_events;

void recordBox(const std::string& title, const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_boxes.push_back({title, text});
  g_events.push_back("box:" + text);
}

void recordLink(const std::string& url) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_links.push_back(url);
  g_events.push_back("link:" + url);
}

}  // namespace

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

RecordingFakes::RecordingFakes() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_boxes.clear();
    g_links.clear();
    g_events.clear();
  }
  resetBoxGateForTesting();
  setErrorBoxSink(&recordBox);
  setLinkOpener(&recordLink);
  forgetOpenedLinks();
  resetInstallState(installState());
  logStart("");
}

RecordingFakes::~RecordingFakes() {
  setErrorBoxSink(nullptr);
  setLinkOpener(nullptr);
  resetInstallState(installState());
  logStart("");
}

std::vector<RecordedBox> RecordingFakes::boxes() const {
  waitForBoxesForTesting();  // the boxes of retried failures come on a thread of their own
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_boxes;
}

std::vector<std::string> RecordingFakes::links() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_links;
}

std::vector<std::string> RecordingFakes::events() const {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_events;
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

}  // namespace vestrel::test
