#include "publish/ChunkStore.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_set>

#include "platform/Sha256.h"
#include "publish/Release.h"
#include "support/FileHandle.h"
#include "support/LocalPaths.h"
#include "update/chunks/ChunkCodec.h"
#include "update/chunks/ChunkIndex.h"
#include "update/chunks/ChunkStream.h"

namespace vestrel::publish {
namespace {

namespace fs = std::filesystem;

// Writes `bytes` as the new file `path` unless it is there already: under a temporary name
// first, so that a name in the store always holds its whole content. Sets `written`.
bool writeOnce(const fs::path& path, std::string_view bytes, bool& written, std::string& why) {
  written = false;
  std::error_code error;
  if (fs::exists(path, error)) {
    return true;
  }
  fs::create_directories(path.parent_path(), error);
  const fs::path temporary = path.string() + ".new-" + std::to_string(::getpid());
  FileHandle file(std::fopen(temporary.c_str(), "wb"));
  const bool put = file != nullptr &&
                   std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                   std::fclose(file.release()) == 0;
  why = std::strerror(errno);
  if (put) {
    fs::rename(temporary, path, error);
    why = error.message();
  }
  if (!put || error) {
    fs::remove(temporary, error);
    return false;
  }
  written = true;
  return true;
}

// Cuts one file and stores what the store lacks; its index is named in `released`.
bool storeFile(const std::string& tree, const HashedFile& hashed, ReleasedFile& released,
               ChunkTotals& totals, Problems& out) {
  const FileHandle file(std::fopen(joinPath(tree, hashed.path).c_str(), "rb"));
  if (file == nullptr) {
    out.push_back({hashed.path, Rule::Unreadable, std::strerror(errno)});
    return false;
  }
  platform::Sha256 whole;
  ChunkIndex index;
  std::string packed;
  std::string why;
  bool stored = true;
  ChunkStream stream([&](std::uint64_t offset, const unsigned char* data, std::size_t size) {
    if (!stored) {
      return;
    }
    whole.add(data, size);
    ChunkRef chunk{offset, size, platform::sha256Text(data, size)};
    const fs::path path = fs::path(tree) / chunkPath(chunk.sha256);
    bool written = false;
    if (!fs::exists(path) &&
        !(packChunk(data, size, packed) && writeOnce(path, packed, written, why))) {
      out.push_back({chunkPath(chunk.sha256), Rule::ChunksNotWritten, why});
      stored = false;
      return;
    }
    totals.stored += written ? 1 : 0;
    totals.storedBytes += written ? packed.size() : 0;
    index.fileSize += size;
    index.chunks.push_back(std::move(chunk));
  });
  std::vector<char> buffer(std::size_t{4} << 20);
  std::size_t read = 0;
  while (stored && (read = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
    stream.add(buffer.data(), read);
  }
  stream.finish();
  if (!stored) {
    return false;
  }
  if (std::ferror(file.get()) != 0) {
    out.push_back({hashed.path, Rule::Unreadable, "a read failed"});
    return false;
  }
  if (index.fileSize != released.size || whole.finishText() != released.sha256) {
    out.push_back({hashed.path, Rule::ChangedWhileHashed, {}});
    return false;
  }
  const std::string text = chunkIndexText(index);
  released.indexSize = text.size();
  released.indexSha256 = platform::sha256Text(text.data(), text.size());
  bool written = false;
  if (!writeOnce(fs::path(tree) / indexPath(released.indexSha256), text, written, why)) {
    out.push_back({indexPath(released.indexSha256), Rule::ChunksNotWritten, why});
    return false;
  }
  ++totals.files;
  totals.chunks += index.chunks.size();
  return true;
}

// The bytes of a stored file of at most `limit` bytes; false when there is none such.
bool readStored(const std::string& tree, const std::string& relative, std::size_t limit,
                std::string& bytes) {
  bool missing = false;
  std::string why;
  return readSmallFile(joinPath(tree, relative), limit, bytes, missing, why);
}

// A release's index, read and held to the size and SHA-256 it is named by.
bool readNamedIndex(const std::string& tree, const ReleasedFile& file, ChunkIndex& index,
                    std::string& why) {
  std::string bytes;
  if (!readStored(tree, indexPath(file.indexSha256), kMaxIndexBytes, bytes)) {
    why = "the index is missing or cannot be read";
    return false;
  }
  if (bytes.size() != file.indexSize ||
      platform::sha256Text(bytes.data(), bytes.size()) != file.indexSha256) {
    why = "the index is not the one the release names";
    return false;
  }
  if (!readChunkIndex(bytes, index, why)) {
    return false;
  }
  if (index.fileSize != file.size) {
    why = "the index's chunks do not add up to the file's size";
    return false;
  }
  return true;
}

}  // namespace

bool storeChunks(const std::string& tree, std::vector<HashedFile>& hashed, ChunkTotals& totals,
                 Problems& out) {
  for (HashedFile& file : hashed) {
    if (file.released.size >= kSmallestChunkedFile &&
        !storeFile(tree, file, file.released, totals, out)) {
      return false;
    }
  }
  return true;
}

void checkChunks(const std::string& tree, const Release& release, Problems& out) {
  std::string packed;
  ChunkBytes bytes;
  for (const ReleasedFile& file : release.files) {
    if (file.indexSha256.empty()) {
      continue;
    }
    ChunkIndex index;
    std::string why;
    if (!readNamedIndex(tree, file, index, why)) {
      out.push_back({indexPath(file.indexSha256), Rule::ChunkDiffers, why});
      continue;
    }
    platform::Sha256 whole;
    bool wholeOk = true;
    for (const ChunkRef& chunk : index.chunks) {
      if (!readStored(tree, chunkPath(chunk.sha256), packedChunkBound(), packed) ||
          !unpackChunk(packed, chunk.size, bytes) ||
          platform::sha256Text(bytes.data(), bytes.size()) != chunk.sha256) {
        out.push_back({chunkPath(chunk.sha256), Rule::ChunkDiffers,
                       "missing, damaged or not the bytes it is named by"});
        wholeOk = false;
        break;
      }
      whole.add(bytes.data(), bytes.size());
    }
    if (wholeOk && whole.finishText() != file.sha256) {
      out.push_back({indexPath(file.indexSha256), Rule::ChunkDiffers,
                     "its chunks do not make up the file the release names"});
    }
  }
}

bool pruneChunks(const std::string& tree, const Release& release, unsigned days,
                 std::size_t& removed, std::string& why) {
  removed = 0;
  std::unordered_set<std::string> named;
  for (const ReleasedFile& file : release.files) {
    if (file.indexSha256.empty()) {
      continue;
    }
    ChunkIndex index;
    if (!readNamedIndex(tree, file, index, why)) {
      why = indexPath(file.indexSha256) + ": " + why;
      return false;
    }
    named.insert(file.indexSha256);
    for (const ChunkRef& chunk : index.chunks) {
      named.insert(chunk.sha256);
    }
  }
  const auto oldest = fs::file_time_type::clock::now() - std::chrono::hours(24) * days;
  std::error_code error;
  const fs::path store = fs::path(tree) / kChunksFolder;
  for (fs::recursive_directory_iterator it(store, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code fileError;
    if (!it->is_regular_file(fileError) || named.count(it->path().filename().string()) != 0 ||
        it->last_write_time(fileError) >= oldest || fileError) {
      continue;
    }
    if (fs::remove(it->path(), fileError)) {
      ++removed;
    }
  }
  return true;
}

}  // namespace vestrel::publish
