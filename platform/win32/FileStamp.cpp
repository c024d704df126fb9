#include "platform/FileStamp.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace vestrel::platform {
namespace {

std::uint64_t joined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace

bool readFileStamp(const std::string& narrowPath, FileStamp& out) {
  // The attributes come from the folder's entry: the file is not opened, so no scanner that
  // watches every open is woken for it.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(win32::toWide(narrowPath).c_str(), GetFileExInfoStandard, &data)) {
    return false;
  }
  out.size = joined(data.nFileSizeHigh, data.nFileSizeLow);
  out.modified = static_cast<std::int64_t>(
      joined(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
  out.identity = joined(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime);
  return true;
}

}  // namespace vestrel::platform
