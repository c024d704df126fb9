#include "update/digest/FileDigest.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "platform/Platform.h"
#include "platform/Sha256.h"
#include "update/digest/Md5.h"

namespace vestrel {
namespace {

// Reads the file in kHashChunkSize reads, handing each to `onChunk`. False, with the reason
// in `error`, when it could not be opened or read to its end.
bool readChunks(const std::string& narrowPath, std::string& error,
                const std::function<void(const char*, std::size_t)>& onChunk,
                std::stop_token stop = {}) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  const std::unique_ptr<std::FILE, Closer> file(platform::openFile(narrowPath, "rb"));
  if (file == nullptr) {
    // Not strerror: the verification pass hashes on several threads at once.
    error = std::generic_category().message(errno);
    return false;
  }
  const std::unique_ptr<char[]> buffer(new char[kHashChunkSize]);
  std::size_t got = 0;
  while ((got = std::fread(buffer.get(), 1, kHashChunkSize, file.get())) > 0) {
    if (stop.stop_requested()) {
      error = std::make_error_code(std::errc::operation_canceled).message();
      return false;
    }
    onChunk(buffer.get(), got);
  }
  if (std::ferror(file.get()) != 0) {
    error = "read error";
    return false;
  }
  return true;
}

}  // namespace

bool digestFile(const std::string& narrowPath, std::string& digest, std::string& error,
                const std::function<void(const char*, std::size_t)>& onBytes,
                std::stop_token stop) {
  Md5 md5;
  const bool read = readChunks(
      narrowPath, error,
      [&](const char* data, std::size_t length) {
        md5.add(data, length);
        if (onBytes) {
          onBytes(data, length);
        }
      },
      stop);
  digest = md5.finishText();
  return read;
}

bool digestFileBoth(const std::string& narrowPath, FileDigests& digests, std::string& error,
                    const std::function<void(std::size_t)>& onBytes) {
  Md5 md5;
  platform::Sha256 sha256;
  digests.size = 0;
  const bool read = readChunks(narrowPath, error, [&](const char* data, std::size_t length) {
    md5.add(data, length);
    sha256.add(data, length);
    digests.size += length;
    if (onBytes) {
      onBytes(length);
    }
  });
  digests.md5 = md5.finishText();
  digests.sha256 = sha256.finishText();
  if (read && digests.sha256.empty()) {
    error = "the system could not compute a SHA-256";
    return false;
  }
  return read;
}

}  // namespace vestrel
