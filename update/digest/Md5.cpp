#include "update/digest/Md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vestrel {
namespace {

// Every function below is on the per-block path; the shift counts and round constants are
// template arguments and literals so that each of the 64 steps compiles to a handful of
// register instructions with immediates.

template <int kShift>
constexpr std::uint32_t rotateLeft(std::uint32_t x) {
  return (x << kShift) | (x >> (32 - kShift));
}

// Message words are little-endian whatever the machine; memcpy keeps unaligned input legal.
inline std::uint32_t loadWord(const unsigned char* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  } else {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }
}

// In each step only `b` was produced by the step before, so the work that does not need it
// (message word, constant, and whatever depends on c and d alone) goes first and the chain
// through `b` stays as short as possible.

template <int kShift>
inline void stepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t wordPlusConstant) {
  a += wordPlusConstant;
  a += d ^ (b & (c ^ d));
  a = rotateLeft<kShift>(a) + b;
}

// (b & d) | (c & ~d): the two halves never share a set bit, so they can be added one at a
// time, and the half without b is added before b is known.
template <int kShift>
inline void stepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t wordPlusConstant) {
  a += wordPlusConstant;
  a += c & ~d;
  a += b & d;
  a = rotateLeft<kShift>(a) + b;
}

template <int kShift>
inline void stepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t wordPlusConstant) {
  a += wordPlusConstant;
  a += b ^ (c ^ d);
  a = rotateLeft<kShift>(a) + b;
}

template <int kShift>
inline void stepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t wordPlusConstant) {
  a += wordPlusConstant;
  a += c ^ (b | ~d);
  a = rotateLeft<kShift>(a) + b;
}

}  // namespace

Md5::Md5() {
  start();
}

void Md5::start() {
  words_[0] = 0x67452301;
  words_[1] = 0xefcdab89;
  words_[2] = 0x98badcfe;
  words_[3] = 0x10325476;
  compressedBytes_ = 0;
  waiting_ = 0;
}

void Md5::add(const void* data, std::size_t length) {
  if (length == 0) {
    return;  // `data` may then be null, which memcpy does not accept
  }
  const auto* in = static_cast<const unsigned char*>(data);
  if (waiting_ != 0) {
    const std::size_t take = std::min(length, kBlockSize - waiting_);
    std::memcpy(block_ + waiting_, in, take);
    waiting_ += take;
    in += take;
    length -= take;
    if (waiting_ < kBlockSize) {
      return;
    }
    compress(block_, 1);
    waiting_ = 0;
  }
  const std::size_t whole = length / kBlockSize;
  if (whole != 0) {
    compress(in, whole);
    in += whole * kBlockSize;
    length -= whole * kBlockSize;
  }
  if (length != 0) {
    std::memcpy(block_, in, length);
    waiting_ = length;
  }
}

std::string Md5::finishText() {
  const std::uint64_t messageBits = (compressedBytes_ + waiting_) * 8;

  // The tail is the waiting bytes, a single 1 bit, zeros up to 8 bytes short of a block
  // boundary, and the message length in bits; one block, or two when fewer than 9 bytes
  // are left free.
  unsigned char tail[2 * kBlockSize] = {};
  std::memcpy(tail, block_, waiting_);
  tail[waiting_] = 0x80;
  const std::size_t tailSize = waiting_ + 1 + 8 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
  for (std::size_t i = 0; i < 8; ++i) {
    tail[tailSize - 8 + i] = static_cast<unsigned char>(messageBits >> (8 * i));
  }
  compress(tail, tailSize / kBlockSize);

  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(32, '0');
  for (std::size_t i = 0; i < 16; ++i) {
    const auto byte = static_cast<unsigned>(words_[i / 4] >> (8 * (i % 4))) & 0xffu;
    text[2 * i] = kHex[byte >> 4];
    text[2 * i + 1] = kHex[byte & 0xf];
  }
  start();
  return text;
}

void Md5::compress(const unsigned char* blocks, std::size_t count) {
  std::uint32_t a = words_[0];
  std::uint32_t b = words_[1];
  std::uint32_t c = words_[2];
  std::uint32_t d = words_[3];

  for (const unsigned char* p = blocks; p != blocks + count * kBlockSize; p += kBlockSize) {
    const std::uint32_t x0 = loadWord(p + 0);
    const std::uint32_t x1 = loadWord(p + 4);
    const std::uint32_t x2 = loadWord(p + 8);
    const std::uint32_t x3 = loadWord(p + 12);
    const std::uint32_t x4 = loadWord(p + 16);
    const std::uint32_t x5 = loadWord(p + 20);
    const std::uint32_t x6 = loadWord(p + 24);
    const std::uint32_t x7 = loadWord(p + 28);
    const std::uint32_t x8 = loadWord(p + 32);
    const std::uint32_t x9 = loadWord(p + 36);
    const std::uint32_t x10 = loadWord(p + 40);
    const std::uint32_t x11 = loadWord(p + 44);
    const std::uint32_t x12 = loadWord(p + 48);
    const std::uint32_t x13 = loadWord(p + 52);
    const std::uint32_t x14 = loadWord(p + 56);
    const std::uint32_t x15 = loadWord(p + 60);

    const std::uint32_t oldA = a;
    const std::uint32_t oldB = b;
    const std::uint32_t oldC = c;
    const std::uint32_t oldD = d;

    // The constants are the integer parts of 2^32 * |sin(i)| for i = 1..64.
    stepF<7>(a, b, c, d, x0 + 0xd76aa478);
    stepF<12>(d, a, b, c, x1 + 0xe8c7b756);
    stepF<17>(c, d, a, b, x2 + 0x242070db);
    stepF<22>(b, c, d, a, x3 + 0xc1bdceee);
    stepF<7>(a, b, c, d, x4 + 0xf57c0faf);
    stepF<12>(d, a, b, c, x5 + 0x4787c62a);
    stepF<17>(c, d, a, b, x6 + 0xa8304613);
    stepF<22>(b, c, d, a, x7 + 0xfd469501);
    stepF<7>(a, b, c, d, x8 + 0x698098d8);
    stepF<12>(d, a, b, c, x9 + 0x8b44f7af);
    stepF<17>(c, d, a, b, x10 + 0xffff5bb1);
    stepF<22>(b, c, d, a, x11 + 0x895cd7be);
    stepF<7>(a, b, c, d, x12 + 0x6b901122);
    stepF<12>(d, a, b, c, x13 + 0xfd987193);
    stepF<17>(c, d, a, b, x14 + 0xa679438e);
    stepF<22>(b, c, d, a, x15 + 0x49b40821);

    stepG<5>(a, b, c, d, x1 + 0xf61e2562);
    stepG<9>(d, a, b, c, x6 + 0xc040b340);
    stepG<14>(c, d, a, b, x11 + 0x265e5a51);
    stepG<20>(b, c, d, a, x0 + 0xe9b6c7aa);
    stepG<5>(a, b, c, d, x5 + 0xd62f105d);
    stepG<9>(d, a, b, c, x10 + 0x02441453);
    stepG<14>(c, d, a, b, x15 + 0xd8a1e681);
    stepG<20>(b, c, d, a, x4 + 0xe7d3fbc8);
    stepG<5>(a, b, c, d, x9 + 0x21e1cde6);
    stepG<9>(d, a, b, c, x14 + 0xc33707d6);
    stepG<14>(c, d, a, b, x3 + 0xf4d50d87);
    stepG<20>(b, c, d, a, x8 + 0x455a14ed);
    stepG<5>(a, b, c, d, x13 + 0xa9e3e905);
    stepG<9>(d, a, b, c, x2 + 0xfcefa3f8);
    stepG<14>(c, d, a, b, x7 + 0x676f02d9);
    stepG<20>(b, c, d, a, x12 + 0x8d2a4c8a);

    stepH<4>(a, b, c, d, x5 + 0xfffa3942);
    stepH<11>(d, a, b, c, x8 + 0x8771f681);
    stepH<16>(c, d, a, b, x11 + 0x6d9d6122);
    stepH<23>(b, c, d, a, x14 + 0xfde5380c);
    stepH<4>(a, b, c, d, x1 + 0xa4beea44);
    stepH<11>(d, a, b, c, x4 + 0x4bdecfa9);
    stepH<16>(c, d, a, b, x7 + 0xf6bb4b60);
    stepH<23>(b, c, d, a, x10 + 0xbebfbc70);
    stepH<4>(a, b, c, d, x13 + 0x289b7ec6);
    stepH<11>(d, a, b, c, x0 + 0xeaa127fa);
    stepH<16>(c, d, a, b, x3 + 0xd4ef3085);
    stepH<23>(b, c, d, a, x6 + 0x04881d05);
    stepH<4>(a, b, c, d, x9 + 0xd9d4d039);
    stepH<11>(d, a, b, c, x12 + 0xe6db99e5);
    stepH<16>(c, d, a, b, x15 + 0x1fa27cf8);
    stepH<23>(b, c, d, a, x2 + 0xc4ac5665);

    stepI<6>(a, b, c, d, x0 + 0xf4292244);
    stepI<10>(d, a, b, c, x7 + 0x432aff97);
    stepI<15>(c, d, a, b, x14 + 0xab9423a7);
    stepI<21>(b, c, d, a, x5 + 0xfc93a039);
    stepI<6>(a, b, c, d, x12 + 0x655b59c3);
    stepI<10>(d, a, b, c, x3 + 0x8f0ccc92);
    stepI<15>(c, d, a, b, x10 + 0xffeff47d);
    stepI<21>(b, c, d, a, x1 + 0x85845dd1);
    stepI<6>(a, b, c, d, x8 + 0x6fa87e4f);
    stepI<10>(d, a, b, c, x15 + 0xfe2ce6e0);
    stepI<15>(c, d, a, b, x6 + 0xa3014314);
    stepI<21>(b, c, d, a, x13 + 0x4e0811a1);
    stepI<6>(a, b, c, d, x4 + 0xf7537e82);
    stepI<10>(d, a, b, c, x11 + 0xbd3af235);
    stepI<15>(c, d, a, b, x2 + 0x2ad7d2bb);
    stepI<21>(b, c, d, a, x9 + 0xeb86d391);

    a += oldA;
    b += oldB;
    c += oldC;
    d += oldD;
  }

  words_[0] = a;
  words_[1] = b;
  words_[2] = c;
  words_[3] = d;
  compressedBytes_ += count * kBlockSize;
}

}  // namespace vestrel
