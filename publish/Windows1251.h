// Names as the players' Windows installers hold them.
//
// The publisher's tree is named in UTF-8; a Windows installer keeps every path in
// Windows-1251 and joins the list lines to its install folder byte for byte. The lists
// therefore spell each name in Windows-1251, and a name it cannot spell cannot be published.
#pragma once

#include <string>
#include <string_view>

namespace vestrel::publish {

// Decodes UTF-8 into code points. False for malformed input (bad or truncated sequences,
// overlong forms, surrogates, values past U+10FFFF).
bool decodeUtf8(std::string_view utf8, std::u32string& out);

// The Windows-1251 spelling of a UTF-8 text. False when the text is not valid UTF-8 or holds
// a character Windows-1251 has no byte for; `why` then says which.
bool utf8ToWindows1251(std::string_view utf8, std::string& out, std::string* why = nullptr);

// The UTF-8 spelling of Windows-1251 bytes, for messages (the one unassigned byte, 0x98,
// becomes U+FFFD).
std::string windows1251ToUtf8(std::string_view bytes);

// `bytes` for a message line: control bytes and bytes that are not part of valid UTF-8 are
// written as \xNN, so that no name can garble or forge the tool's output.
std::string printableName(std::string_view bytes);

}  // namespace vestrel::publish
