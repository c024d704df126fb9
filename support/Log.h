// installer.log in the install folder: a start banner, time-stamped lines, an end banner.
//
// Every call opens the file, appends one whole record and closes it again, so the file on
// disk is complete after each call. Calls from any thread may overlap: the records are
// written one at a time, each whole.
#pragma once

#include <string>

namespace vestrel {

// Makes `narrowDirectory` the log's folder, truncates its installer.log and writes the start
// banner. Until the first call, logLine and logEnd write nothing.
void logStart(const std::string& narrowDirectory);

// Appends one line record. `utf8Format` is one of the installer's own texts; the arguments
// are narrow text and numbers.
void logLine(const char* utf8Format, ...);

// Appends one line record holding `narrowMessage` as it is.
void logMessage(const std::string& narrowMessage);

// Appends the end banner.
void logEnd();

// The folder given to logStart, or empty.
std::string logDirectory();

}  // namespace vestrel
