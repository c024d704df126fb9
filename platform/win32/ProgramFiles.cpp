// The program's own files on Windows: built into the executable as RCDATA resources, whose
// numbers are the ids the portable code asks for.
#include <windows.h>

#include <string>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {

std::string programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // a long path: the name was cut short
  }
  path.erase(path.find_last_of(L"\\/") + 1);
  std::string narrow;
  return win32::toNarrowExactly(path, narrow) ? narrow : std::string();
}

bool builtInFile(int id, const unsigned char*& data, std::size_t& size) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) {
    return false;
  }
  // A resource stays mapped for as long as the program runs.
  data = static_cast<const unsigned char*>(bytes);
  size = SizeofResource(nullptr, found);
  return true;
}

}  // namespace vestrel::platform
