// The verification pass: decides which listed files must be downloaded.
#pragma once

namespace vestrel {

struct InstallState;

// Fetches ufile.lists and uhash.lists into the install root, fills the download queue and
// the digest list, walks the install root hashing every listed file, empties the queue slot
// of each file whose digest is listed, deletes a listed file whose digest is not (a wrong
// launcher.exe is kept), and compacts the queue. Unlisted files are never touched.
// False when a list cannot be fetched or is refused, or when the walk fails; the problem
// has been reported by then.
bool verifyFiles(InstallState& state);

}  // namespace vestrel
