#include "support/Log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/Platform.h"
#include "support/FormatText.h"
#include "support/Texts.h"

namespace vestrel {
namespace {

// Set once on the GUI thread before any worker exists, then only read.
std::string g_logDirectory;

struct Stamp {
  int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

Stamp now() {
  std::tm local{};
  Stamp stamp;
  if (platform::localCalendarTime(local)) {
    stamp = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             local.tm_hour,        local.tm_min,     local.tm_sec};
  }
  return stamp;
}

// Every record of every thread goes through one lock: appending is only atomic where the
// system appends for us (POSIX O_APPEND), while some C runtimes seek to the end and then
// write, so two threads' records could overwrite each other.
std::mutex g_writeLock;

// Writes one whole record in one open-write-close cycle. The stream is text mode, so on
// systems that end lines with CR LF the runtime writes them that way.
void writeRecord(const char* mode, const std::string& record) {
  const std::lock_guard<std::mutex> lock(g_writeLock);
  std::string name;
  formatText(name, platform::narrowText(text::kLogFileName).c_str(), g_logDirectory.c_str());
  std::FILE* file = platform::openFile(name, mode);
  if (file == nullptr) {
    return;  // this record is lost; the next call tries again
  }
  // One buffer large enough for the whole record (line ends may double in text mode), so
  // it reaches the file in a single write and never interleaves with another thread's.
  std::setvbuf(file, nullptr, _IOFBF, record.size() * 2 + 64);
  std::fwrite(record.data(), 1, record.size(), file);
  std::fclose(file);
}

std::string stamped(const char* utf8Format, const std::string* message) {
  const Stamp s = now();
  std::string record;
  const std::string format = platform::narrowText(utf8Format);
  if (message != nullptr) {
    formatText(record, format.c_str(), s.year, s.month, s.day, s.hour, s.minute, s.second,
               message->c_str());
  } else {
    formatText(record, format.c_str(), s.year, s.month, s.day, s.hour, s.minute, s.second);
  }
  return record;
}

}  // namespace

void logStart(const std::string& narrowDirectory) {
  g_logDirectory = narrowDirectory;
  if (g_logDirectory.empty()) {
    return;  // no folder, no log
  }
  writeRecord("w", stamped(text::kStartBanner, nullptr));
}

void logLine(const char* utf8Format, ...) {
  if (g_logDirectory.empty()) {
    return;
  }
  std::string message;
  std::va_list args;
  va_start(args, utf8Format);
  formatTextV(message, platform::narrowText(utf8Format).c_str(), args);
  va_end(args);
  logMessage(message);
}

void logMessage(const std::string& narrowMessage) {
  if (!g_logDirectory.empty()) {
    writeRecord("a", stamped(text::kLineRecord, &narrowMessage));
  }
}

void logEnd() {
  if (g_logDirectory.empty()) {
    return;
  }
  writeRecord("a", stamped(text::kEndBanner, nullptr));
}

std::string logDirectory() {
  return g_logDirectory;
}

}  // namespace vestrel
