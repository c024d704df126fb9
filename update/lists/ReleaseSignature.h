// Ed25519 keys and signatures of release files (update/lists/ReleaseFile.h).
//
// Public keys travel as base64 of their 32 bytes; a key's id, which the release file names its
// signer by, is 16 hex characters derived from the key. A secret key file holds base64 of the
// 64-byte secret key on one line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update/lists/ReleaseFile.h"

namespace vestrel {

// Wipes a string that held secret key material when the scope it guards is left, whichever
// way: a failure must not leave the key in freed memory any more than a success.
class WipedOnExit {
 public:
  explicit WipedOnExit(std::string& secret) : secret_(secret) {}
  ~WipedOnExit();
  WipedOnExit(const WipedOnExit&) = delete;
  WipedOnExit& operator=(const WipedOnExit&) = delete;

 private:
  std::string& secret_;
};

// Makes a key pair: both in base64.
bool makeReleaseKeys(std::string& publicKey, std::string& secretKey);

// The 32 bytes of a base64 public key; false for anything else.
bool decodePublicKey(std::string_view base64, std::string& key);

// The id of a public key's bytes.
std::string releaseKeyId(std::string_view key);

// Signs `text` with a base64 secret key: the signature line that ends the release file.
// False when the key is not one.
bool signReleaseText(std::string_view text, std::string_view secretKey, std::string& line);

// The public key (base64) belonging to a base64 secret key; false when it is not one.
bool publicKeyOf(std::string_view secretKey, std::string& publicKey);

// True when the release's signature, over the first signedLength bytes of `bytes`, was made
// by one of `keys` (their bytes, as decodePublicKey gives them).
bool releaseSignedBy(const Release& release, std::string_view bytes,
                     const std::vector<std::string>& keys);

}  // namespace vestrel
