#include "platform/Sha256.h"

#include <openssl/evp.h>

namespace vestrel::platform {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::add(const void* data, std::size_t length) {
  if (state_->ok && length > 0) {
    state_->ok = EVP_DigestUpdate(state_->context, data, length) == 1;
  }
}

std::string Sha256::finishText() {
  static constexpr char kHex[] = "0123456789abcdef";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = state_->ok && EVP_DigestFinal_ex(state_->context, digest, &length) == 1;
  state_->ok = EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1;
  std::string text;
  for (unsigned int i = 0; ok && i < length; ++i) {
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
