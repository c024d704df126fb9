#include "update/digest/FileDigest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/Platform.h"
#include "update/digest/Md5.h"

namespace vestrel {

bool digestFile(const std::string& narrowPath, std::string& digest, std::string& error,
                const std::function<void(std::size_t)>& onBytes) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  Md5 md5;
  const std::unique_ptr<std::FILE, Closer> file(platform::openFile(narrowPath, "rb"));
  if (file == nullptr) {
    error = std::strerror(errno);
    digest = md5.finishText();
    return false;
  }
  const std::unique_ptr<char[]> buffer(new char[kHashChunkSize]);
  std::size_t got = 0;
  while ((got = std::fread(buffer.get(), 1, kHashChunkSize, file.get())) > 0) {
    md5.add(buffer.get(), got);
    if (onBytes) {
      onBytes(got);
    }
  }
  digest = md5.finishText();
  if (std::ferror(file.get()) != 0) {
    error = "read error";
    return false;
  }
  return true;
}

}  // namespace vestrel
