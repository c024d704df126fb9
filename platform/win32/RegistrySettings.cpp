// The remembered install folder in the per-user registry:
// HKEY_CURRENT_USER\Software\Vestrel, value launcherPath (REG_SZ).

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {
namespace {

constexpr wchar_t kKey[] = L"Software\\Vestrel";
constexpr wchar_t kValue[] = L"launcherPath";
constexpr std::size_t kMaxFolderBytes = 260;

HKEY createKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

void writeValue(HKEY key, const std::wstring& text) {
  RegSetValueExW(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

bool readStoredFolder(std::string& narrow) {
  narrow.clear();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    // No key yet: create it with an empty value, as a first run does.
    if (HKEY created = createKey()) {
      writeValue(created, L"");
      RegCloseKey(created);
    }
    return true;
  }
  // The buffer grows by 1024 bytes for as long as the value does not fit.
  DWORD announced = 1024;
  std::vector<BYTE> buffer(announced + sizeof(wchar_t), 0);
  LONG result = ERROR_MORE_DATA;
  for (;;) {
    DWORD size = announced;
    result = RegQueryValueExW(key, kValue, nullptr, nullptr, buffer.data(), &size);
    if (result != ERROR_MORE_DATA) {
      announced = size;
      break;
    }
    announced += 1024;
    buffer.assign(announced + sizeof(wchar_t), 0);
  }
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    return false;
  }
  // The extra zeroed character terminates a value stored without its NUL.
  const wchar_t* text = reinterpret_cast<const wchar_t*>(buffer.data());
  std::wstring wide(text, wcsnlen(text, announced / sizeof(wchar_t)));
  // A value that narrow text cannot hold exactly counts as no folder: a replaced or best-fitted
  // character would make the installer work in some other folder. So does one that does not
  // fit 260 bytes.
  if (!win32::toNarrowExactly(wide, narrow) || narrow.size() >= kMaxFolderBytes) {
    narrow.clear();
    return false;
  }
  return true;
}

void writeStoredFolder(const std::string& narrow) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    key = createKey();
  }
  if (key == nullptr) {
    return;
  }
  writeValue(key, win32::toWide(narrow));
  RegCloseKey(key);
}

}  // namespace vestrel::platform
