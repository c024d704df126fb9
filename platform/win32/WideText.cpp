#include <windows.h>

#include "platform/win32/WideText.h"

namespace vestrel::platform::win32 {

std::wstring toWide(std::string_view text, unsigned codePage) {
  if (text.empty()) {
    return {};
  }
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), needed);
  return wide;
}

std::string toNarrow(std::wstring_view text, unsigned codePage, bool* exact) {
  if (exact != nullptr) {
    *exact = true;
  }
  if (text.empty()) {
    return {};
  }
  const int length = static_cast<int>(text.size());
  // UTF-8 takes no default character; a single-byte code page reports what it had to replace.
  // No "best fit" either: a look-alike ('e' for 'é') would name another file, yet count as
  // exact.
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPointer = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int needed = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr,
                                         usedDefaultPointer);
  if (needed <= 0) {
    if (exact != nullptr) {
      *exact = false;
    }
    return {};
  }
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(codePage, flags, text.data(), length, narrow.data(), needed, nullptr,
                      usedDefaultPointer);
  if (exact != nullptr && usedDefault) {
    *exact = false;
  }
  return narrow;
}

bool toNarrowExactly(std::wstring_view text, std::string& narrow) {
  bool exact = true;
  narrow = toNarrow(text, kNarrowCodePage, &exact);
  return exact;
}

}  // namespace vestrel::platform::win32
