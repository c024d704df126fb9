// The verification pass: decides which listed files must be downloaded.
#pragma once

namespace vestrel {

struct InstallState;

// Takes ufile.lists and uhash.lists from the run's list round (update/ListRound.h) into the
// install folder, fills the download queue and the digest list, walks the install folder
// hashing every listed file, empties the queue slot of each file whose digest is listed, and
// compacts the queue. Nothing is deleted: a wrong or unreadable file stays queued until its
// verified download replaces it. On the way it moves aside a folder that stands where a listed
// file belongs, removes what interrupted downloads left, and passes over folders it cannot
// read. Other unlisted files are never touched. False when a list cannot be fetched or is refused
// (the problem has been reported by then), or when the run was asked to stop.
bool verifyFiles(InstallState& state);

}  // namespace vestrel
