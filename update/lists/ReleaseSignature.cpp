#include "update/lists/ReleaseSignature.h"

#include <sodium.h>

namespace vestrel {
namespace {

const unsigned char* bytesOf(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

bool ready() {
  return sodium_init() >= 0;
}

std::string toBase64(const unsigned char* data, std::size_t length) {
  std::string text(sodium_base64_ENCODED_LEN(length, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), data, length, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminator
  return text;
}

// Exactly `length` bytes from base64, or false. Only the alphabet and its padding are let
// through: the decoder reads any byte above 0x7F as '/', so such a byte in a signature line
// would leave the signature valid and a base64 key would have more than one spelling.
bool fromBase64(std::string_view text, std::size_t length, std::string& bytes) {
  if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
      std::string_view::npos) {
    return false;
  }
  bytes.assign(length, '\0');
  std::size_t decoded = 0;
  const char* end = nullptr;
  return sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(),
                           text.data(), text.size(), nullptr, &decoded, &end,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         decoded == length && end == text.data() + text.size();
}

bool secretBytes(std::string_view secretKey, std::string& secret) {
  return ready() && fromBase64(secretKey, crypto_sign_SECRETKEYBYTES, secret);
}

}  // namespace

WipedOnExit::~WipedOnExit() {
  sodium_memzero(secret_.data(), secret_.size());
}

bool makeReleaseKeys(std::string& publicKey, std::string& secretKey) {
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  if (!ready() || crypto_sign_keypair(pk, sk) != 0) {
    return false;
  }
  publicKey = toBase64(pk, sizeof pk);
  secretKey = toBase64(sk, sizeof sk);
  sodium_memzero(sk, sizeof sk);
  return true;
}

bool decodePublicKey(std::string_view base64, std::string& key) {
  return ready() && fromBase64(base64, crypto_sign_PUBLICKEYBYTES, key);
}

std::string releaseKeyId(std::string_view key) {
  static constexpr char kHex[] = "0123456789abcdef";
  // The hash's shortest documented length; the id is its first half.
  unsigned char hash[crypto_generichash_BYTES_MIN] = {};
  crypto_generichash(hash, sizeof hash, bytesOf(key), key.size(), nullptr, 0);
  std::string text;
  for (std::size_t i = 0; i < sizeof hash / 2; ++i) {
    const unsigned char byte = hash[i];
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

bool publicKeyOf(std::string_view secretKey, std::string& publicKey) {
  std::string secret;
  const WipedOnExit wipe(secret);
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  if (!secretBytes(secretKey, secret) || crypto_sign_ed25519_sk_to_pk(pk, bytesOf(secret)) != 0) {
    return false;
  }
  publicKey = toBase64(pk, sizeof pk);
  return true;
}

bool signReleaseText(std::string_view text, std::string_view secretKey, std::string& line) {
  std::string secret;
  const WipedOnExit wipe(secret);
  std::string publicKey;
  std::string key;
  unsigned char signature[crypto_sign_BYTES];
  if (!publicKeyOf(secretKey, publicKey) || !decodePublicKey(publicKey, key) ||
      !secretBytes(secretKey, secret) ||
      crypto_sign_detached(signature, nullptr, bytesOf(text), text.size(), bytesOf(secret)) != 0) {
    return false;
  }
  line = releaseSignatureLine(releaseKeyId(key), toBase64(signature, sizeof signature));
  return true;
}

bool releaseSignedBy(const Release& release, std::string_view bytes,
                     const std::vector<std::string>& keys) {
  std::string signature;
  if (!ready() || release.signedLength > bytes.size() ||
      !fromBase64(release.signature, crypto_sign_BYTES, signature)) {
    return false;
  }
  for (const std::string& key : keys) {
    if (key.size() == crypto_sign_PUBLICKEYBYTES && releaseKeyId(key) == release.keyId &&
        crypto_sign_verify_detached(bytesOf(signature), bytesOf(bytes), release.signedLength,
                                    bytesOf(key)) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace vestrel
