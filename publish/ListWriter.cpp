#include "publish/ListWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "publish/TreeScan.h"
#include "update/lists/ReleaseFile.h"

namespace vestrel::publish {
namespace {

namespace fs = std::filesystem;

std::size_t indexOf(ListKind kind) {
  return static_cast<std::size_t>(std::find(kListKinds.begin(), kListKinds.end(), kind) -
                                  kListKinds.begin());
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// Writes `bytes` to a new file beside `target` and flushes it to the disk. The file's name,
// or empty with the reason in `error`.
std::string writeTemporary(const fs::path& target, const std::string& bytes, std::string& error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path temporary =
        target.parent_path() / ("." + target.filename().native() + "." +
                                std::to_string(::getpid()) + "." + std::to_string(attempt));
    // 0666 under the umask: the web server must be able to read what it serves.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
      continue;
    }
    if (fd < 0) {
      error = std::strerror(errno);
      return {};
    }
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
      error = std::strerror(written ? errno : writeErrno);
      ::unlink(temporary.c_str());
      return {};
    }
    return temporary.native();
  }
  error = "no free temporary name";
  return {};
}

// One file the list folder is to hold: its name there and its new bytes.
struct Written {
  std::string name;
  const std::string* bytes;
};

std::string pathInTree(const std::string& name) {
  return std::string(kListFolder) + "/" + name;
}

// The list folder exists (or is made) and every file to be written in it is a plain file or
// missing.
bool listFolderReady(const fs::path& folder, const std::vector<Written>& files, Problems& out) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(folder, error);
  if (status.type() == fs::file_type::not_found) {
    if (!fs::create_directory(folder, error)) {
      out.push_back({kListFolder, Rule::ListsNotWritten, error.message()});
      return false;
    }
    return true;
  }
  if (status.type() != fs::file_type::directory) {
    out.push_back({kListFolder, Rule::ListsNotWritten, error ? error.message() : "not a folder"});
    return false;
  }
  bool ready = true;
  for (const Written& file : files) {
    const fs::file_status old = fs::symlink_status(folder / file.name, error);
    if (old.type() != fs::file_type::not_found && old.type() != fs::file_type::regular) {
      out.push_back({pathInTree(file.name), Rule::ListsNotWritten, "not a regular file"});
      ready = false;
    }
  }
  return ready;
}

}  // namespace

std::string listBody(std::vector<std::string> lines) {
  // std::string orders by unsigned bytes, as the installer's comparisons do.
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  std::string body;
  for (const std::string& line : lines) {
    body += line;
    body += '\n';
  }
  return body;
}

std::string listPath(ListKind kind) {
  return pathInTree(listFileName(kind));
}

bool verifyBodies(const ListBodies& bodies, std::string_view root, Problems& out) {
  bool good = true;
  for (const ListKind kind : kListKinds) {
    const std::string& body = bodies[indexOf(kind)];
    if (body.size() > kMaxListBytes) {
      out.push_back({listPath(kind), Rule::ListTooLarge,
                     std::to_string(body.size()) + " bytes, the installer takes at most " +
                         std::to_string(kMaxListBytes)});
      good = false;
      continue;
    }
    // As the players' Windows installers will read it: byte for byte, in Windows-1251.
    const CheckedList checked = checkListText(body, kind, root, LineSpelling::AsListed);
    const auto lines = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));
    if (!checked.accepted || checked.lines.size() != lines) {
      out.push_back({listPath(kind), Rule::ListRefused,
                     "this tool made a line the installer refuses: " +
                         printableListLine(checked.refusedLine)});
      good = false;
    }
  }
  return good;
}

bool writeLists(const std::string& tree, const ListBodies& bodies, Problems& out,
                const std::string& release) {
  const fs::path folder = fs::path(tree) / kListFolder;
  std::vector<Written> files;
  for (const ListKind kind : kListKinds) {
    files.push_back({listFileName(kind), &bodies[indexOf(kind)]});
  }
  if (!release.empty()) {
    files.push_back({kReleaseFileName, &release});
  }
  if (!listFolderReady(folder, files, out)) {
    return false;
  }
  std::vector<std::string> temporaries(files.size());
  auto removeTemporaries = [&temporaries] {
    for (const std::string& temporary : temporaries) {
      if (!temporary.empty()) {
        ::unlink(temporary.c_str());
      }
    }
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string error;
    temporaries[i] = writeTemporary(folder / files[i].name, *files[i].bytes, error);
    if (temporaries[i].empty()) {
      out.push_back({pathInTree(files[i].name), Rule::ListsNotWritten, error});
      removeTemporaries();
      return false;
    }
  }
  // In order, the release last: it names the lists that are already in place.
  for (std::size_t i = 0; i < files.size(); ++i) {
    const fs::path target = folder / files[i].name;
    if (::rename(temporaries[i].c_str(), target.c_str()) != 0) {
      out.push_back({pathInTree(files[i].name), Rule::ListsNotWritten, std::strerror(errno)});
      removeTemporaries();
      return false;
    }
    temporaries[i].clear();
  }
  // The renames themselves reach the disk with the folder.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

}  // namespace vestrel::publish
