#include "publish/FileDigest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/Platform.h"
#include "update/Md5.h"

namespace vestrel::publish {

bool digestFile(const std::string& path, std::string& digest, std::string& error,
                const std::function<void(std::size_t)>& onBytes) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  const std::unique_ptr<std::FILE, Closer> file(platform::openFile(path, "rb"));
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  const std::unique_ptr<char[]> buffer(new char[kHashChunkSize]);
  Md5 md5;
  std::size_t got = 0;
  while ((got = std::fread(buffer.get(), 1, kHashChunkSize, file.get())) > 0) {
    md5.add(buffer.get(), got);
    if (onBytes) {
      onBytes(got);
    }
  }
  if (std::ferror(file.get()) != 0) {
    error = "read error";
    return false;
  }
  digest = md5.finishText();
  return true;
}

}  // namespace vestrel::publish
