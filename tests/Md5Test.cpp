#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "update/digest/Md5.h"
#include "update/net/FileSink.h"

namespace vestrel {
namespace {

std::string digestOf(const std::string& bytes) {
  Md5 md5;
  md5.add(bytes.data(), bytes.size());
  return md5.finishText();
}

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(generator() & 0xff);
  }
  return bytes;
}

// The digest the system's md5sum prints for the file, or "" when it could not be run.
std::string md5sumOf(const std::filesystem::path& file) {
  const std::string command = "md5sum < '" + file.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return "";
  }
  char line[128] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = ::pclose(pipe);
  if (!read || status != 0) {
    return "";
  }
  return std::string(line).substr(0, 32);
}

TEST(Md5, KnownMessages) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : cases) {
    EXPECT_EQ(digestOf(message), digest) << '"' << message << '"';
  }
}

// Sizes where the padding changes shape (55/56: the length still fits the last block or
// not; 64: an empty final block) and where a file read in whole chunks ends exactly at, or
// just past, a chunk boundary.
TEST(Md5, FilesMatchMd5sumAroundBlockAndChunkBoundaries) {
  test::TempDir dir;
  const std::size_t sizes[] = {0,
                               1,
                               54,
                               55,
                               56,
                               57,
                               62,
                               63,
                               64,
                               65,
                               119,
                               120,
                               128,
                               kHashChunkSize - 1,
                               kHashChunkSize,
                               kHashChunkSize + 1,
                               3 * 1024 * 1024 + 37};
  unsigned seed = 1;
  for (const std::size_t size : sizes) {
    const std::filesystem::path file = dir.path() / ("data-" + std::to_string(size));
    test::writeFile(file, randomBytes(size, seed++));
    const std::string expected = md5sumOf(file);
    ASSERT_EQ(expected.size(), 32u) << "md5sum failed on " << file;

    // Hashed the way files are read: chunk by chunk, the last one short.
    const std::string bytes = test::readFile(file);
    ASSERT_EQ(bytes.size(), size);
    Md5 md5;
    for (std::size_t at = 0; at < bytes.size(); at += kHashChunkSize) {
      md5.add(bytes.data() + at, std::min(kHashChunkSize, bytes.size() - at));
    }
    EXPECT_EQ(md5.finishText(), expected) << size << " bytes";
  }
}

TEST(Md5, HowTheInputIsSplitDoesNotMatter) {
  const std::string bytes = randomBytes(1000, 42);
  const std::string whole = digestOf(bytes);

  Md5 byteAtATime;
  for (const char& byte : bytes) {
    byteAtATime.add(&byte, 1);
  }
  EXPECT_EQ(byteAtATime.finishText(), whole);

  // Pieces that start, end and straddle block boundaries in every way, with empty ones mixed
  // in (null with length 0 must be accepted too).
  const std::size_t pieces[] = {3, 0, 61, 64, 1, 127, 129, 63, 0, 65, 200, 7, 280};
  Md5 uneven;
  std::size_t at = 0;
  for (const std::size_t piece : pieces) {
    uneven.add(bytes.data() + at, piece);
    uneven.add(nullptr, 0);
    at += piece;
  }
  ASSERT_EQ(at, bytes.size());
  EXPECT_EQ(uneven.finishText(), whole);

  // Whole blocks are read straight from the caller's memory, at any alignment.
  std::vector<char> shifted(bytes.size() + 3);
  std::copy(bytes.begin(), bytes.end(), shifted.begin() + 3);
  Md5 misaligned;
  misaligned.add(shifted.data() + 3, bytes.size());
  EXPECT_EQ(misaligned.finishText(), whole);
}

TEST(Md5, StartAndFinishBeginAFreshMessage) {
  Md5 md5;
  md5.add("some earlier input that is thrown away", 38);
  md5.start();
  md5.add("abc", 3);
  EXPECT_EQ(md5.finishText(), "900150983cd24fb0d6963f7d28e17f72");

  // A finished hasher takes the next message without start().
  md5.add("message digest", 14);
  EXPECT_EQ(md5.finishText(), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5.finishText(), "d41d8cd98f00b204e9800998ecf8427e");
}

// What downloads are written and hashed through: the same file and digest whether the body
// stays small (done on the caller's thread) or grows large enough to be handed to a thread of
// its own, however it arrives; and a write that fails stops it.
TEST(FileSink, SameFileAndDigestForAnySizeAndAnyPieces) {
  test::TempDir dir;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1000}, std::size_t{1} << 20,
                                 (std::size_t{1} << 20) + 1, std::size_t{5} << 20}) {
    SCOPED_TRACE(size);
    const std::string bytes = randomBytes(size, static_cast<unsigned>(size));
    const auto path = dir.path() / "body";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    FileSink sink(file);
    std::size_t at = 0;
    for (std::size_t piece = 1; at < bytes.size(); piece = piece * 7 % 70001 + 1) {
      const std::size_t take = std::min(piece, bytes.size() - at);
      ASSERT_TRUE(sink.add(bytes.data() + at, take));
      at += take;
    }
    int error = 0;
    EXPECT_TRUE(sink.finish(error));
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(sink.digest(), digestOf(bytes));
    EXPECT_EQ(sink.digest(), digestOf(bytes));  // asking again must not reset it
    EXPECT_EQ(test::readFile(path), bytes);
  }
}

TEST(FileSink, FailedWriteStopsTheBodyAndSaysWhy) {
  const std::string large = randomBytes(3 << 20, 7);
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  {
    FileSink sink(full);
    bool taken = true;
    for (std::size_t at = 0; at < large.size() && taken; at += 16384) {
      taken = sink.add(large.data() + at, 16384);
    }
    int error = 0;
    EXPECT_FALSE(sink.finish(error));
    EXPECT_EQ(error, ENOSPC);
  }
  std::fclose(full);
  std::FILE* sinkFile = std::fopen("/dev/null", "wb");
  {
    FileSink unfinished(sinkFile);
    unfinished.add(large.data(), large.size());
  }
  std::fclose(sinkFile);
}

}  // namespace
}  // namespace vestrel
