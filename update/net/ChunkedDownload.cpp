#include "update/net/ChunkedDownload.h"

#include <cstdio>
#include <deque>
#include <map>
#include <system_error>
#include <unordered_map>

#include "platform/Platform.h"
#include "platform/Sha256.h"
#include "support/FileHandle.h"
#include "support/FormatText.h"
#include "support/HeldFiles.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/InstallState.h"
#include "update/RunContext.h"
#include "update/chunks/ChunkCodec.h"
#include "update/chunks/ChunkIndex.h"
#include "update/lists/ListRules.h"
#include "update/lists/ReleaseFile.h"
#include "update/net/ChunkBody.h"
#include "update/net/ChunkWriter.h"
#include "update/net/FileServer.h"
#include "update/net/ResumablePart.h"
#include "update/net/Transfer.h"

namespace vestrel {
namespace {

constexpr std::size_t kIndexFetch = static_cast<std::size_t>(-1);
// Chunks of one file asked for at a time: 8 MiB or so in flight keeps a distant link full,
// while more streams on the connection only cut every answer into smaller pieces, each with
// its own frames, callbacks and window updates, at a cost to both ends' processors.
constexpr std::size_t kChunksInFlight = 32;

// One transfer of the file's: its index, or one chunk.
struct Fetch {
  Transfer transfer;
  std::size_t chunk = kIndexFetch;
  MemoryBody* index = nullptr;     // the body, as the one or
  ChunkBody* chunkBody = nullptr;  // the other

  // Bytes arrived that cannot be what the fetch is named by.
  bool refused() const { return index != nullptr ? index->overLimit() : chunkBody->refused(); }
};

std::string megabytes(std::uint64_t bytes) {
  std::string text = formatted("%.1f", static_cast<double>(bytes) / (1024 * 1024));
  for (char& c : text) {
    c = c == '.' ? ',' : c;
  }
  return text;
}

bool readAt(std::FILE* file, std::uint64_t offset, std::size_t size, ChunkBytes& bytes) {
  bytes.resize(size);
  return platform::seekFile(file, offset) && std::fread(bytes.data(), 1, size, file) == size;
}

}  // namespace

struct ChunkedDownload::Parts {
  InstallState& state;
  std::string entry;
  const ReleasedFile& released;
  bool lastChance;
  std::string finalPath;
  std::string logName;
  ChunkIndex index;
  std::vector<bool> have;
  std::deque<std::size_t> missing;  // chunks still to ask for, in order
  std::map<CURL*, std::unique_ptr<Fetch>> flying;
  std::vector<std::unique_ptr<ChunkUnpacker>> spareUnpackers;  // of chunks that ended
  FileHandle part;
  bool indexAsked = false;
  bool sidecar = false;  // the part can be gone on from
  bool keep = false;     // and stays when this goes
  std::uint64_t toFetch = 0;
  std::uint64_t fetched = 0;
  std::string md5;
  // Declared after the part, so that it stops writing before the part is closed.
  std::unique_ptr<ChunkWriter> writer;

  Parts(InstallState& s, std::string e, const ReleasedFile& r, bool last)
      : state(s), entry(std::move(e)), released(r), lastChance(last) {}

  ~Parts() {
    flying.clear();
    writer.reset();
    part.reset();
    if (!keep) {
      removeResumable(finalPath);
    }
  }

  std::string validator() const { return "chunks " + released.indexSha256; }

  // A fetch of the index or of chunk `chunk`.
  CURL* ask(std::size_t chunk) {
    auto fetch = std::make_unique<Fetch>();
    fetch->chunk = chunk;
    Transfer& t = fetch->transfer;
    t.op = &kFileFetch;
    t.curl.reset(curl_easy_init());
    if (t.curl == nullptr) {
      return nullptr;
    }
    if (chunk == kIndexFetch) {
      auto body = std::make_unique<MemoryBody>(released.indexSize);
      fetch->index = body.get();
      t.memoryBody = std::move(body);
    } else {
      std::unique_ptr<ChunkUnpacker> unpacker;
      if (spareUnpackers.empty()) {
        unpacker = std::make_unique<ChunkUnpacker>();
      } else {
        unpacker = std::move(spareUnpackers.back());
        spareUnpackers.pop_back();
      }
      auto body = std::make_unique<ChunkBody>(std::move(unpacker), index.chunks[chunk].size,
                                              writer->spareBuffer());
      fetch->chunkBody = body.get();
      t.memoryBody = std::move(body);
    }
    setTransferOptions(t, fileUrl(chunk == kIndexFetch ? indexPath(released.indexSha256)
                                                       : chunkPath(index.chunks[chunk].sha256)));
    CURL* easy = t.curl.get();
    flying.emplace(easy, std::move(fetch));
    return easy;
  }

  // What a digest failure of the file is: the first, a fresh start; the second, the end.
  FetchFailure digestFailure() {
    keep = false;
    return lastChance ? FetchFailure{FetchFailure::Kind::Refused,
                                     systemText(text::kReleaseFileMismatch, finalPath.c_str())}
                      : FetchFailure{FetchFailure::Kind::StartOver, finalPath};
  }

  FetchFailure writeFailure(const std::string& path) const {
    return {FetchFailure::Kind::Write,
            systemText(text::kLocalFileWriteFailed, path.c_str(), systemReason(errno).c_str())};
  }

  // The index is in: the part is laid out, and what is had already is counted.
  bool plan(const std::string& bytes, FetchFailure& failure) {
    std::string why;
    if (bytes.size() != released.indexSize ||
        platform::sha256Text(bytes.data(), bytes.size()) != released.indexSha256 ||
        !readChunkIndex(bytes, index, why) || index.fileSize != released.size) {
      failure = digestFailure();
      return false;
    }
    have.assign(index.chunks.size(), false);
    const std::string partName = partPath(finalPath);
    std::string kept;
    ChunkBytes block;
    if (readValidator(finalPath, kept) && kept == validator()) {
      part.reset(platform::openFile(partName, "r+b"));
    }
    if (part != nullptr) {
      for (std::size_t i = 0; i < index.chunks.size(); ++i) {
        const ChunkRef& chunk = index.chunks[i];
        have[i] = readAt(part.get(), chunk.offset, chunk.size, block) &&
                  platform::sha256Text(block.data(), block.size()) == chunk.sha256;
      }
    } else {
      removeResumable(finalPath);
      part.reset(platform::openFile(partName, "w+b"));
      if (part == nullptr) {
        failure = writeFailure(partName);
        return false;
      }
    }
    sidecar = keep = writeValidator(finalPath, validator());
    takeHeldChunks(block, failure);
    for (std::size_t i = 0; i < index.chunks.size(); ++i) {
      if (!have[i]) {
        missing.push_back(i);
        toFetch += index.chunks[i].size;
      }
    }
    if (failure.kind != FetchFailure::Kind::None) {
      return false;
    }
    try {
      writer = std::make_unique<ChunkWriter>(part.get(), index, have);
    } catch (const std::system_error&) {
      failure = {FetchFailure::Kind::Init, {}};  // no thread to be had
      return false;
    }
    return true;
  }

  // A chunk was not what it is named by, or the part could not be written or read back.
  FetchFailure writerFailure() {
    if (writer->damaged()) {
      return digestFailure();
    }
    errno = writer->error();
    return writeFailure(partPath(finalPath));
  }

  // The chunks the old file holds go into the part without a transfer.
  void takeHeldChunks(ChunkBytes& block, FetchFailure& failure) {
    const auto held = state.heldChunks.find(entry);
    if (held == state.heldChunks.end()) {
      return;
    }
    std::unordered_map<std::string, const ChunkRef*> byName;
    for (const ChunkRef& chunk : held->second) {
      byName.emplace(chunk.sha256, &chunk);
    }
    const FileHandle old(platform::openFile(finalPath, "rb"));
    for (std::size_t i = 0; i < index.chunks.size() && old != nullptr; ++i) {
      const ChunkRef& chunk = index.chunks[i];
      const auto found = byName.find(chunk.sha256);
      if (have[i] || found == byName.end() || found->second->size != chunk.size ||
          !readAt(old.get(), found->second->offset, chunk.size, block)) {
        continue;
      }
      if (!writeAt(chunk.offset, block)) {
        failure = writeFailure(partPath(finalPath));
        return;
      }
      have[i] = true;
    }
  }

  bool writeAt(std::uint64_t offset, const ChunkBytes& bytes) {
    return platform::seekFile(part.get(), offset) &&
           std::fwrite(bytes.data(), 1, bytes.size(), part.get()) == bytes.size();
  }

  // Every chunk is in: the whole part, as its digests took it, must be the file the release
  // names (its size is the index's, which plan() held to the release's).
  bool place(FetchFailure& failure) {
    if (!writer->finish(md5)) {
      failure = writerFailure();
      return false;
    }
    writer.reset();
    const bool closed = std::fclose(part.release()) == 0;
    if (md5 != released.md5) {
      failure = digestFailure();
      return false;
    }
    int error = 0;
    if (!closed ||
        !replaceWhenFree(partPath(finalPath), finalPath, error, runContext().run.stopToken())) {
      errno = error;
      failure = writeFailure(finalPath);
      return false;
    }
    removeIfPresent(sidecarPath(finalPath));
    keep = true;  // nothing is left to remove
    logLine(text::kChunkedDownloaded, logName.c_str(), megabytes(fetched).c_str(),
            megabytes(released.size).c_str());
    logLine(text::kDownloaded, logName.c_str());
    return true;
  }
};

ChunkedDownload::ChunkedDownload(InstallState& state, std::string entry,
                                 const ReleasedFile& released, bool lastChance)
    : parts_(std::make_unique<Parts>(state, std::move(entry), released, lastChance)) {
  const std::string& root = state.installFolder;
  parts_->logName = parts_->entry;
  parts_->finalPath = root + std::string(storedFileLine(parts_->entry.substr(root.size())));
}

ChunkedDownload::~ChunkedDownload() = default;

CURL* ChunkedDownload::next(FetchFailure& failure) {
  failure = {};
  Parts& p = *parts_;
  if (!p.indexAsked) {
    p.indexAsked = true;
    CURL* easy = p.ask(kIndexFetch);
    if (easy == nullptr) {
      failure = {FetchFailure::Kind::Init, {}};
    }
    return easy;
  }
  if (p.index.chunks.empty() || p.missing.empty() || p.flying.size() >= kChunksInFlight) {
    return nullptr;
  }
  const std::size_t chunk = p.missing.front();
  p.missing.pop_front();
  CURL* easy = p.ask(chunk);
  if (easy == nullptr) {
    failure = {FetchFailure::Kind::Init, {}};
  }
  return easy;
}

ChunkedDownload::Step ChunkedDownload::ended(const TransferEnd& end, FetchFailure& failure) {
  failure = {};
  Parts& p = *parts_;
  const auto found = p.flying.find(end.easy);
  if (found == p.flying.end()) {
    return Step::Going;
  }
  const std::unique_ptr<Fetch> fetch = std::move(found->second);
  p.flying.erase(found);
  if (!finishTransfer(fetch->transfer, end, failure)) {
    // An answer past its named size, or not one frame of the chunk's size, is not the chunk
    // or the index it is named by.
    if (fetch->refused()) {
      failure = p.digestFailure();
    }
    return Step::Failed;
  }
  if (fetch->chunk == kIndexFetch) {
    return p.plan(fetch->index->take(), failure)
               ? (p.missing.empty() && p.flying.empty()
                      ? (p.place(failure) ? Step::Done : Step::Failed)
                      : Step::Going)
               : Step::Failed;
  }
  const ChunkRef& chunk = p.index.chunks[fetch->chunk];
  ChunkBytes unpacked;
  const bool whole = fetch->chunkBody->take(unpacked);
  p.spareUnpackers.push_back(fetch->chunkBody->giveBack());
  if (!whole) {
    failure = p.digestFailure();
    return Step::Failed;
  }
  if (!p.writer->add(fetch->chunk, std::move(unpacked))) {
    failure = p.writerFailure();
    return Step::Failed;
  }
  p.fetched += chunk.size;
  if (!p.missing.empty() || !p.flying.empty()) {
    return Step::Going;
  }
  return p.place(failure) ? Step::Done : Step::Failed;
}

std::vector<CURL*> ChunkedDownload::inFlight() const {
  std::vector<CURL*> handles;
  for (const auto& [easy, fetch] : parts_->flying) {
    handles.push_back(easy);
  }
  return handles;
}

void ChunkedDownload::keepPart() {
  parts_->keep = parts_->sidecar;
}

std::uint64_t ChunkedDownload::toFetch() const {
  return parts_->toFetch;
}

std::uint64_t ChunkedDownload::fetched() const {
  return parts_->fetched;
}

const std::string& ChunkedDownload::placedPath() const {
  return parts_->finalPath;
}

std::string ChunkedDownload::placedDigest() const {
  return parts_->md5;
}

}  // namespace vestrel
