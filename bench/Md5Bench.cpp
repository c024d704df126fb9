#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "update/digest/Md5.h"

namespace vestrel {
namespace {

// One read's worth of random bytes, as the verification pass hashes files.
const std::vector<unsigned char>& chunk() {
  static const std::vector<unsigned char> bytes = [] {
    std::mt19937 generator(7);
    std::vector<unsigned char> random(kHashChunkSize);
    for (unsigned char& byte : random) {
      byte = static_cast<unsigned char>(generator() & 0xff);
    }
    return random;
  }();
  return bytes;
}

void BM_Md5(benchmark::State& state) {
  const std::vector<unsigned char>& bytes = chunk();
  for (auto _ : state) {
    Md5 md5;
    md5.add(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(md5.finishText());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Md5);

// The reference: OpenSSL's MD5, which is hand-written assembly on common machines.
void BM_OpenSslMd5(benchmark::State& state) {
  const std::vector<unsigned char>& bytes = chunk();
  const EVP_MD* md5 = EVP_md5();
  for (auto _ : state) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &digestSize, md5, nullptr) != 1) {
      state.SkipWithError("EVP_Digest failed");
      break;
    }
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_OpenSslMd5);

}  // namespace
}  // namespace vestrel
