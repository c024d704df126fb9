// installer.log in the install folder: a start banner, time-stamped lines, an end banner.
//
// The file is opened once by the start banner and kept open for the run, and each record is
// flushed as it is written, so the file on disk is complete after each call without paying
// for an open per line (on Windows every open may be scanned). Calls from any thread may
// overlap: the records are written one at a time, each whole. The end banner is the last
// record of a run and closes the file: once it is written, further records are dropped until
// the next start.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace vestrel {

// What the log keeps for the run, in the run's context (support/SupportContext.h).
struct LogState {
  LogState() = default;
  ~LogState();
  LogState(const LogState&) = delete;
  LogState& operator=(const LogState&) = delete;

  std::mutex lock;        // every record of every thread goes through it
  std::string directory;  // the folder given to logStart; empty: no log
  bool ended = false;     // the end banner is written
  // From the start banner to the end banner; null while the file could not be opened (the
  // next record tries again).
  std::FILE* file = nullptr;
};

// Makes `narrowDirectory` the log's folder, truncates its installer.log and writes the start
// banner. Until the first call, logLine and logEnd write nothing. False when the file could
// not be opened for writing (the folder is then still the log's, and later records are tried).
bool logStart(const std::string& narrowDirectory);

// Appends one line record. `utf8Format` is one of the installer's own texts; the arguments
// are narrow text and numbers.
void logLine(const char* utf8Format, ...);

// Appends one line record holding `narrowMessage` as it is.
void logMessage(const std::string& narrowMessage);

// Appends the end banner, once: a second call writes nothing.
void logEnd();

// The folder given to logStart, or empty.
std::string logDirectory();

}  // namespace vestrel
