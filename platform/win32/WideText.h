// Conversions between the installer's narrow text and the wide text of the Windows API.
#pragma once

#include <string>
#include <string_view>

namespace vestrel::platform::win32 {

// The code page of narrow text.
inline constexpr unsigned kNarrowCodePage = 1251;

// Narrow (or, with CP_UTF8, UTF-8) text to UTF-16 with MultiByteToWideChar.
std::wstring toWide(std::string_view text, unsigned codePage = kNarrowCodePage);

// UTF-16 to narrow text (or UTF-8). False in `exact` when a character had no equivalent
// (no look-alike stands in for it).
std::string toNarrow(std::wstring_view text, unsigned codePage = kNarrowCodePage,
                     bool* exact = nullptr);

// UTF-16 as narrow text, exactly or not at all: a name that narrow text cannot hold would name
// another file.
bool toNarrowExactly(std::wstring_view text, std::string& narrow);

}  // namespace vestrel::platform::win32
