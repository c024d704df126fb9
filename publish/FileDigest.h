// A file's digest as the lists write it, computed by the installer's own MD5.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vestrel::publish {

// Reads the file at `path` in the installer's hashing chunks and sets `digest` to its MD5 in
// 32 lowercase hex characters. `onBytes`, when given, hears of every chunk read. False, with
// the reason in `error`, when the file cannot be opened or read: unlike the installer, which
// treats an unreadable local file as one to download again, the publisher must not list a
// digest it did not compute.
bool digestFile(const std::string& path, std::string& digest, std::string& error,
                const std::function<void(std::size_t)>& onBytes = {});

}  // namespace vestrel::publish
