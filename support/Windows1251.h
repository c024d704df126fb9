// Windows-1251 text: how the players' Windows installers hold names, and so how the server's
// lists spell them.
//
// A Windows installer keeps every path in Windows-1251 and joins the list lines to its install
// folder byte for byte. The publisher's tree is named in UTF-8, so its lists spell each name
// in Windows-1251 and a name that cannot be spelled so cannot be published; an installer on
// another system turns the lines back into UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace vestrel {

// Decodes UTF-8 into code points. False for malformed input (bad or truncated sequences,
// overlong forms, surrogates, values past U+10FFFF).
bool decodeUtf8(std::string_view utf8, std::u32string& out);

// The Windows-1251 spelling of a UTF-8 text. False when the text is not valid UTF-8 or holds
// a character Windows-1251 has no byte for; `why` then says which.
bool utf8ToWindows1251(std::string_view utf8, std::string& out, std::string* why = nullptr);

// The UTF-8 spelling of Windows-1251 bytes. False when a byte has no character (the one
// unassigned byte, 0x98, which becomes U+FFFD); the second form is for messages.
bool windows1251ToUtf8(std::string_view bytes, std::string& out);
std::string windows1251ToUtf8(std::string_view bytes);

// `bytes` for a message line: control bytes and bytes that are not part of valid UTF-8 are
// written as \xNN, so that no name can garble or forge the tool's output.
std::string printableName(std::string_view bytes);

// The small letter of a capital among the letters Windows-1251 holds (ASCII, А–Я, Ѐ–Џ with Ё,
// Ґ); any other code point as it is.
char32_t foldLetter(char32_t c);

// UTF-8 text with those capitals made small, for comparing names in any case; bytes that are
// not valid UTF-8 stay as they are, and the text keeps its length.
std::string foldCase(std::string_view utf8);

}  // namespace vestrel
