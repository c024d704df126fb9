#include "publish/Release.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/Sha256.h"
#include "publish/TreeScan.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel::publish {
namespace {

// A key file holds one line of base64; anything much longer is some other file.
constexpr std::size_t kMaxKeyFileBytes = 1024;

// Signs `release` and reads the result back as the installers will: parsed, and signed by
// the public key that belongs to the secret one.
bool signAndReadBack(const Release& release, const std::string& secretKey, std::string& bytes,
                     std::string& why) {
  const std::string text = releaseText(release);
  std::string line;
  std::string publicKey;
  std::string key;
  Release readBack;
  if (!signReleaseText(text, secretKey, line) || !publicKeyOf(secretKey, publicKey) ||
      !decodePublicKey(publicKey, key)) {
    why = "it holds no secret key (one line of base64, as keygen writes it)";
    return false;
  }
  bytes = text + line;
  if (!readRelease(bytes, readBack, why)) {
    return false;
  }
  if (!releaseSignedBy(readBack, bytes, {key})) {
    why = "its signature does not match its own public key: the key is damaged";
    return false;
  }
  return true;
}

}  // namespace

bool readSmallFile(const std::string& path, std::size_t limit, std::string& bytes, bool& missing,
                   std::string& why) {
  bytes.clear();
  // Not blocking: a FIFO in place of the file must not hold the tool up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  missing = fd < 0 && errno == ENOENT;
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  struct stat status {};
  bool good = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  why = good ? "" : "not a regular file";
  char buffer[65536];
  while (good) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      good = got == 0;
      why = good ? "" : std::strerror(errno);
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
    if (bytes.size() > limit) {
      why = "larger than " + std::to_string(limit) + " bytes";
      good = false;
    }
  }
  ::close(fd);
  // A key file passes through here: no copy of it stays behind on the stack.
  sodium_memzero(buffer, sizeof buffer);
  return good;
}

bool makeKeyFile(const std::string& path, std::string& publicKey, std::string& why) {
  std::string secretKey;
  const WipedOnExit wipe(secretKey);
  if (!makeReleaseKeys(publicKey, secretKey)) {
    why = "no key pair could be made";
    return false;
  }
  // Created with the owner's permissions only, so that no one else can read it even before
  // it has been written; an existing file, or a link in its place, is left alone.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = errno == EEXIST ? "it already exists, and a key file is never replaced"
                          : std::strerror(errno);
    return false;
  }
  secretKey.reserve(secretKey.size() + 1);  // the line end must not move the key elsewhere
  secretKey += '\n';
  std::size_t done = 0;
  while (done < secretKey.size()) {
    const ssize_t wrote = ::write(fd, secretKey.data() + done, secretKey.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      break;
    }
    done += static_cast<std::size_t>(wrote);
  }
  const bool written = done == secretKey.size() && ::fsync(fd) == 0;
  const int writeErrno = errno;
  if (::close(fd) != 0 || !written) {
    why = std::strerror(written ? errno : writeErrno);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

bool readKeyFile(const std::string& path, std::string& secretKey, std::string& why) {
  bool missing = false;
  // Room for the whole file and one read more, so that reading never moves the key and leaves
  // a copy in freed memory.
  secretKey.reserve(kMaxKeyFileBytes + 65536);
  if (!readSmallFile(path, kMaxKeyFileBytes, secretKey, missing, why)) {
    const WipedOnExit wipe(secretKey);  // whatever of it was read
    return false;
  }
  while (!secretKey.empty() && (secretKey.back() == '\n' || secretKey.back() == '\r')) {
    secretKey.pop_back();
  }
  // A release of nothing, signed and read back: a key that passes signs what it is given.
  Release probe;
  for (ReleasedList& list : probe.lists) {
    list.sha256.assign(64, '0');
  }
  std::string bytes;
  return signAndReadBack(probe, secretKey, bytes, why);
}

std::uint64_t nextSerial(const std::string& tree) {
  std::string bytes;
  std::string why;
  bool missing = false;
  Release release;
  if (!readSmallFile(tree + "/" + releasePath(), kMaxReleaseBytes, bytes, missing, why) ||
      !readRelease(bytes, release, why)) {
    return 1;
  }
  return release.serial == std::numeric_limits<std::uint64_t>::max() ? release.serial
                                                                     : release.serial + 1;
}

bool makeRelease(const BuiltLists& built, const ReleaseOptions& options, std::uint64_t serial,
                 std::string& bytes, Problems& out) {
  Release release;
  release.format = options.chunks ? kChunkedReleaseFormat : kReleaseFormat;
  release.serial = serial;
  release.expires = options.expires;
  for (std::size_t i = 0; i < release.lists.size(); ++i) {
    const std::string& body = built.bodies[i];
    release.lists[i] = {body.size(), platform::sha256Text(body.data(), body.size())};
  }
  for (const HashedFile& file : built.hashed) {
    release.files.push_back(file.released);
  }
  std::string why;
  if (!signAndReadBack(release, options.secretKey, bytes, why)) {
    out.push_back({releasePath(), Rule::ReleaseRefused,
                   "this tool made a release the installer refuses: " + why});
    return false;
  }
  return true;
}

std::string releasePath() {
  return std::string(kListFolder) + "/" + kReleaseFileName;
}

}  // namespace vestrel::publish
