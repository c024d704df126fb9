// SHA-256 through the system's own cryptography, CNG's BCrypt functions.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

#include "platform/Sha256.h"

namespace vestrel::platform {
namespace {

constexpr ULONG kDigestBytes = 32;

// One provider for the whole process: opening it loads and initialises the algorithm, which
// costs more than hashing a small file, and its handle may be shared by every thread. It is
// never closed; the system takes it back with the process.
BCRYPT_ALG_HANDLE sha256Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))
               ? opened
               : nullptr;
  }();
  return provider;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = false;

  State() { restart(); }
  ~State() { close(); }

  void close() {
    if (hash != nullptr) {
      BCryptDestroyHash(hash);
      hash = nullptr;
    }
  }
  // A finished hash object cannot take more data: each message gets a fresh one. The system
  // allocates the object's memory itself when given none.
  void restart() {
    close();
    const BCRYPT_ALG_HANDLE provider = sha256Provider();
    ok = provider != nullptr &&
         BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::add(const void* data, std::size_t length) {
  // BCryptHashData takes at most a ULONG's worth of bytes at a time.
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
  while (state_->ok && length > 0) {
    const ULONG part = static_cast<ULONG>(std::min<std::size_t>(length, 1UL << 30));
    state_->ok = BCRYPT_SUCCESS(BCryptHashData(state_->hash, bytes, part, 0));
    bytes += part;
    length -= part;
  }
}

std::string Sha256::finishText() {
  static constexpr char kHex[] = "0123456789abcdef";
  UCHAR digest[kDigestBytes];
  const bool ok =
      state_->ok && BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest, kDigestBytes, 0));
  state_->restart();
  std::string text;
  for (ULONG i = 0; ok && i < kDigestBytes; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

std::string sha256Text(const void* data, std::size_t length) {
  Sha256 hasher;
  hasher.add(data, length);
  return hasher.finishText();
}

}  // namespace vestrel::platform
