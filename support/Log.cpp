#include "support/Log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/Platform.h"
#include "support/FormatText.h"
#include "support/LocalPaths.h"
#include "support/SupportContext.h"
#include "support/Texts.h"
#include "update/lists/OwnFiles.h"

namespace vestrel {
namespace {

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

// What a record is in the log's order: the banner that opens it, a line, the banner that
// ends it.
enum class Record { Start, Line, End };

// Writes one whole record in one open-write-close cycle, under the log's lock: appending is
// only atomic where the system appends for us (POSIX O_APPEND), while some C runtimes seek to
// the end and then write, so two threads' records could overwrite each other. The stream is
// text mode, so on systems that end lines with CR LF the runtime writes them that way.
bool writeRecord(Record kind, const std::string& record) {
  LogState& log = supportContext().log;
  const std::lock_guard<std::mutex> lock(log.lock);
  if (log.directory.empty() || (kind != Record::Start && log.ended)) {
    return false;
  }
  log.ended = kind == Record::End;
  const std::string name = joinPath(log.directory, kLogFileName);
  std::FILE* file = platform::openFile(name, kind == Record::Start ? "w" : "a");
  if (file == nullptr) {
    return false;  // this record is lost; the next call tries again
  }
  // One buffer large enough for the whole record (line ends may double in text mode), so
  // it reaches the file in a single write and never interleaves with another thread's.
  std::setvbuf(file, nullptr, _IOFBF, record.size() * 2 + 64);
  std::fwrite(record.data(), 1, record.size(), file);
  return std::fclose(file) == 0;
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

bool logStart(const std::string& narrowDirectory) {
  {
    LogState& log = supportContext().log;
    const std::lock_guard<std::mutex> lock(log.lock);
    log.directory = narrowDirectory;
    log.ended = false;
  }
  return !narrowDirectory.empty() &&
         writeRecord(Record::Start, stamped(text::kStartBanner, nullptr));
}

void logLine(const char* utf8Format, ...) {
  std::string message;
  std::va_list args;
  va_start(args, utf8Format);
  formatTextV(message, platform::narrowText(utf8Format).c_str(), args);
  va_end(args);
  logMessage(message);
}

void logMessage(const std::string& narrowMessage) {
  writeRecord(Record::Line, stamped(text::kLineRecord, &narrowMessage));
}

void logEnd() {
  writeRecord(Record::End, stamped(text::kEndBanner, nullptr));
}

std::string logDirectory() {
  LogState& log = supportContext().log;
  const std::lock_guard<std::mutex> lock(log.lock);
  return log.directory;
}

}  // namespace vestrel
