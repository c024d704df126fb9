// How the fetcher's failures are reported: the log lines, the help page opened in the
// browser and the error box. A failure is kept as a FetchFailure, so that a download driven
// among many can be reported later, on another thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "support/BoxGate.h"

namespace vestrel {

struct FetchOperation;
struct InstallState;

// Why a download failed.
struct FetchFailure {
  // Status: the server answered, but not with 200 (reported like Other). DiskFull: no room
  // for the body (the caller stops every transfer and ends the run).
  // Refused: the body is not what the signed release says (the caller ends the run, text:
  // the rule that failed).
  // ProxyLogin: the proxy wanted credentials and took none offered (text: the proxy).
  // StartOver: a resumed download could not go on from its part; the part is gone and the
  // file is fetched again whole at once, without a report.
  enum class Kind {
    None,
    Init,
    Ssl,
    Other,
    Status,
    Write,
    OverLimit,
    Mismatch,
    DiskFull,
    Refused,
    ProxyLogin,
    StartOver
  };
  Kind kind = Kind::None;  // None: nothing to report (a path that is not the installer's)
  std::string text;        // Other, Status, Write: the error text; OverLimit: the list; Mismatch,
                           // DiskFull: the file
  std::uint64_t shortBy = 0;  // DiskFull: the bytes missing, 0 when unknown
  long httpStatus = 0;        // Status: the server's answer
  // The host's failure (update/net/FileHosts.h): it could not be reached, was busy or
  // broken, or lacked a file the lists name; another host may do better. `host` is the one
  // asked, and `hostWait` how long it asked to be left alone (Retry-After), when it did.
  bool hostsFault = false;
  std::size_t host = 0;
  std::optional<std::chrono::seconds> hostWait{};
};

// The kind of box a failed file download is shown under (support/BoxGate.h).
BoxKind boxKindOf(const FetchFailure& failure);

// Logs a failed transfer of `op` and opens its help link; returns the text of its box (empty:
// none). DiskFull is left to the caller's own report (reportDiskFull).
std::string logReport(const FetchOperation& op, const FetchFailure& failure);

// The same, and then the box.
void report(const FetchOperation& op, const FetchFailure& failure);

// Makes the fetcher's report of a failed file download: the log lines, the help link and the
// box; for a mismatch only its log line.
void reportFileFailure(const FetchFailure& failure);

// The same report without its box: the log lines and the help link. Returns the box's text
// (empty: the failure has none) for the caller to show when it sees fit.
std::string logFileFailure(const FetchFailure& failure);

// A release refused (the rule that failed, as kReleaseRefused completes it): the log line and
// the box. Nothing else; the caller ends the run.
void reportReleaseRefusal(const std::string& rule);

// A disk-full failure: the log line and the box that names the install folder and, when
// known, the space missing. Nothing else; the caller ends the run.
void reportDiskFull(const InstallState& state, const FetchFailure& failure);

}  // namespace vestrel
