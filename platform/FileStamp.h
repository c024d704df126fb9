// What the system tells of a file without opening it: enough to see that a file verified
// before has not been touched since, where hashing it again would read every byte.
#pragma once

#include <cstdint>
#include <string>

namespace vestrel::platform {

struct FileStamp {
  std::uint64_t size = 0;
  // The last write, in the system's own unit (nanoseconds on POSIX, 100 ns on Windows).
  std::int64_t modified = 0;
  // Which file this is: the inode on POSIX; on Windows the creation time, which the folder
  // listing gives without opening the file as its file index would need.
  std::uint64_t identity = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `narrowPath` itself (a link is not followed). False when the
// system cannot say.
bool readFileStamp(const std::string& narrowPath, FileStamp& out);

}  // namespace vestrel::platform
