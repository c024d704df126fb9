// A file's MD5 as the lists write it, read from disk in the hasher's chunks. The installer
// judges its local files with it, and the publisher's tool lists digests with it, so the two
// compute a digest the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

namespace vestrel {

// Reads the narrow-named file in kHashChunkSize reads and sets `digest` to the MD5 of what was
// read (of empty input when the file did not open). `onBytes`, when given, hears of every
// read's bytes. False, with the reason in `error`, when the file could not be opened or read, or
// when `stop` was requested before its end. Safe on several threads at once: the verification pass
// hashes on a pool (DigestPool.h).
bool digestFile(const std::string& narrowPath, std::string& digest, std::string& error,
                const std::function<void(const char*, std::size_t)>& onBytes = {},
                std::stop_token stop = {});

// What one read of a file gives: the bytes read and the two digests a signed release names
// the file by (update/lists/ReleaseFile.h).
struct FileDigests {
  std::uint64_t size = 0;
  std::string md5;
  std::string sha256;
};

// As digestFile, but with the SHA-256 beside the MD5 from the same reads: the file is read
// once however large it is. False also when the system could not compute a SHA-256.
bool digestFileBoth(const std::string& narrowPath, FileDigests& digests, std::string& error,
                    const std::function<void(std::size_t)>& onBytes = {});

}  // namespace vestrel
