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

// Closes the log's file, if open; false when what was still buffered could not be written.
bool closeFile(LogState& log) {
  std::FILE* file = log.file;
  log.file = nullptr;
  return file == nullptr || std::fclose(file) == 0;
}

// Writes one whole record under the log's lock, and flushes it. The file stays open between
// records; it is opened (truncated) by the start banner, opened again to append after a
// failure, and closed by the end banner. The buffer holds any record whole (line ends may
// double in text mode), so each reaches the file in one write. The stream is text mode, so on
// systems that end lines with CR LF the runtime writes them that way.
bool writeRecord(Record kind, const std::string& record) {
  constexpr std::size_t kBufferBytes = 64 * 1024;
  LogState& log = supportContext().log;
  const std::lock_guard<std::mutex> lock(log.lock);
  if (log.directory.empty() || (kind != Record::Start && log.ended)) {
    return false;
  }
  log.ended = kind == Record::End;
  if (kind == Record::Start) {
    closeFile(log);
  }
  if (log.file == nullptr) {
    log.file = platform::openFile(joinPath(log.directory, kLogFileName),
                                  kind == Record::Start ? "w" : "a");
    if (log.file == nullptr) {
      return false;  // this record is lost; the next call tries again
    }
    std::setvbuf(log.file, nullptr, _IOFBF, kBufferBytes);
  }
  bool written = std::fwrite(record.data(), 1, record.size(), log.file) == record.size() &&
                 std::fflush(log.file) == 0;
  // A handle that failed is not trusted again: the next record opens the file anew.
  if (kind == Record::End || !written) {
    written = closeFile(log) && written;
  }
  return written;
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

LogState::~LogState() {
  closeFile(*this);
}

bool logStart(const std::string& narrowDirectory) {
  {
    LogState& log = supportContext().log;
    const std::lock_guard<std::mutex> lock(log.lock);
    closeFile(log);
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
