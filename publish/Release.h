// The publisher's half of signed releases (update/lists/ReleaseFile.h): the key pair, the
// release `make --sign` writes beside the lists, and what `check --key` holds a release to.
//
// The secret key never leaves the publisher's machine: it signs, and the installers carry
// only the public key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "publish/BuildLists.h"
#include "publish/Commands.h"
#include "publish/Problem.h"

namespace vestrel::publish {

// The release's path relative to the tree (".launcher/urelease.lists").
std::string releasePath();

// The whole of a regular file no larger than `limit`. False, with the reason in `why` and
// `missing` telling whether there is no such file at all, for anything else.
bool readSmallFile(const std::string& path, std::size_t limit, std::string& bytes, bool& missing,
                   std::string& why);

// Makes a key pair and writes the secret key (base64, LF) to a new file at `path` that only
// its owner can read, from the moment it exists; an existing file is never replaced. Sets
// `publicKey` (base64). False, with the reason in `why`, when no file was written.
bool makeKeyFile(const std::string& path, std::string& publicKey, std::string& why);

// Reads a secret key file as makeKeyFile writes it, and makes sure that what it signs its
// own public key accepts. False, with the reason in `why`, for anything else.
bool readKeyFile(const std::string& path, std::string& secretKey, std::string& why);

// The serial a new release of `tree` gets: one more than its release's, 1 when it has none
// that can be read.
std::uint64_t nextSerial(const std::string& tree);

// The signed release of lists built and about to be written, read back as the installers
// will read it. False, with the reason in `out`, when the tool made one they would refuse.
bool makeRelease(const BuiltLists& built, const ReleaseOptions& options, std::uint64_t serial,
                 std::string& bytes, Problems& out);

// Holds the tree's release to the key's bytes, its lists and the files `built` hashed,
// adding a difference to `out` for each way it fails.
void checkRelease(const std::string& tree, const BuiltLists& built, const std::string& key,
                  Problems& out);

}  // namespace vestrel::publish
