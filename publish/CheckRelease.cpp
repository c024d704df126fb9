#include <ctime>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "platform/ListEncoding.h"
#include "platform/Sha256.h"
#include "publish/ChunkStore.h"
#include "publish/ListWriter.h"
#include "publish/Release.h"
#include "publish/TreeScan.h"
#include "update/lists/ReleaseSignature.h"

namespace vestrel::publish {
namespace {

// A list line as the tree spells the path, for the difference lines.
std::string pathOfLine(std::string_view line) {
  std::string narrow;
  return platform::listLineToNarrow(line, narrow) ? narrow : printableListLine(line);
}

std::vector<std::string> splitLines(std::string_view body) {
  std::vector<std::string> lines;
  for (std::size_t end = body.find('\n'); end != std::string_view::npos; end = body.find('\n')) {
    lines.emplace_back(body.substr(0, end));
    body.remove_prefix(end + 1);
  }
  if (!body.empty()) {
    lines.emplace_back(body);
  }
  return lines;
}

std::string sizeAndDigest(std::uint64_t size, const std::string& sha256) {
  return std::to_string(size) + " bytes, SHA-256 " + sha256;
}

// Each list of the tree against the release's size and SHA-256 of it; the lines of the file
// list in `fileLines`. A list that cannot be read was reported as such already.
bool compareLists(const std::string& tree, const Release& release,
                  std::vector<std::string>& fileLines, Problems& out) {
  bool filesRead = false;
  for (std::size_t i = 0; i < kListKinds.size(); ++i) {
    std::string bytes;
    std::string why;
    bool missing = false;
    if (!readSmallFile(tree + "/" + listPath(kListKinds[i]), kMaxListBytes, bytes, missing, why)) {
      continue;
    }
    const ReleasedList& named = release.lists[i];
    const std::string sha256 = platform::sha256Text(bytes.data(), bytes.size());
    if (bytes.size() != named.size || sha256 != named.sha256) {
      out.push_back({listPath(kListKinds[i]), Rule::ReleaseListDiffers,
                     sizeAndDigest(bytes.size(), sha256) + "; the release names " +
                         sizeAndDigest(named.size, named.sha256)});
    }
    if (kListKinds[i] == ListKind::Files) {
      fileLines = splitLines(bytes);
      filesRead = true;
    }
  }
  return filesRead;
}

// The release's file lines against the file list's: the same lines, in the same order.
void compareFileLines(const Release& release, const std::vector<std::string>& fileLines,
                      Problems& out) {
  std::vector<std::string> named;
  for (const ReleasedFile& file : release.files) {
    named.push_back(file.line);
  }
  if (named == fileLines) {
    return;
  }
  const std::set<std::string> listed(fileLines.begin(), fileLines.end());
  const std::set<std::string> inRelease(named.begin(), named.end());
  const std::size_t before = out.size();
  for (const std::string& line : listed) {
    if (inRelease.count(line) == 0) {
      out.push_back({pathOfLine(line), Rule::NotInRelease, {}});
    }
  }
  for (const std::string& line : inRelease) {
    if (listed.count(line) == 0) {
      out.push_back({pathOfLine(line), Rule::ReleaseNamesUnlisted, {}});
    }
  }
  if (out.size() == before) {
    out.push_back({releasePath(), Rule::ReleaseOrder,
                   std::to_string(named.size()) + " file lines for " +
                       std::to_string(fileLines.size()) + " lines of " +
                       listPath(ListKind::Files)});
  }
}

// Each file the release names against the file the tree holds under that line. A file the
// tree lacks, or could not hash, was reported as such already.
void compareFiles(const Release& release, const BuiltLists& built, Problems& out) {
  std::map<std::string_view, const HashedFile*> hashed;
  for (const HashedFile& file : built.hashed) {
    hashed.emplace(file.released.line, &file);
  }
  for (const ReleasedFile& named : release.files) {
    const auto found = hashed.find(named.line);
    if (found == hashed.end()) {
      continue;
    }
    const ReleasedFile& held = found->second->released;
    std::string detail;
    if (held.size != named.size) {
      detail =
          std::to_string(held.size) + " bytes, the release names " + std::to_string(named.size);
    }
    for (const auto& [what, differs] : {std::pair{"SHA-256", held.sha256 != named.sha256},
                                        std::pair{"MD5", held.md5 != named.md5}}) {
      if (differs) {
        detail += (detail.empty() ? "" : "; ") + std::string("another ") + what;
      }
    }
    if (!detail.empty()) {
      out.push_back({found->second->path, Rule::ReleaseFileDiffers, detail});
    }
  }
}

}  // namespace

void checkRelease(const std::string& tree, const BuiltLists& built, const std::string& key,
                  Problems& out) {
  std::string bytes;
  std::string why;
  bool missing = false;
  if (!readSmallFile(tree + "/" + releasePath(), kMaxReleaseBytes, bytes, missing, why)) {
    out.push_back(
        {releasePath(), missing ? Rule::ReleaseMissing : Rule::Unreadable, missing ? "" : why});
    return;
  }
  Release release;
  if (!readRelease(bytes, release, why)) {
    out.push_back({releasePath(), Rule::ReleaseRefused, why});
    return;
  }
  if (!releaseSignedBy(release, bytes, {key})) {
    out.push_back({releasePath(), Rule::ReleaseNotSigned,
                   release.keyId == releaseKeyId(key)
                       ? "the signature does not match the release's bytes"
                       : "signed by the key " + release.keyId + ", not " + releaseKeyId(key)});
  }
  if (!release.expires.empty() && release.expiresAt <= std::time(nullptr)) {
    out.push_back({releasePath(), Rule::ReleaseExpired, release.expires});
  }
  std::vector<std::string> fileLines;
  if (compareLists(tree, release, fileLines, out)) {
    compareFileLines(release, fileLines, out);
  }
  compareFiles(release, built, out);
  checkChunks(tree, release, out);
}

}  // namespace vestrel::publish
