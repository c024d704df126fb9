#include "support/Windows1251.h"

#include <cstdint>
#include <cstdio>

namespace vestrel {
namespace {

// The characters of bytes 0x80..0xBF; 0 marks the unassigned 0x98. Bytes 0xC0..0xFF are
// U+0410..U+044F in order, and bytes below 0x80 are ASCII.
constexpr char16_t kHighHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0,      0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// The Windows-1251 byte of a code point, or -1.
int windows1251Byte(char32_t c) {
  if (c < 0x80) {
    return static_cast<int>(c);
  }
  if (c >= 0x0410 && c <= 0x044F) {
    return static_cast<int>(c - 0x0410 + 0xC0);
  }
  for (int i = 0; i < 64; ++i) {
    if (kHighHalf[i] != 0 && kHighHalf[i] == c) {
      return 0x80 + i;
    }
  }
  return -1;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the valid UTF-8 sequence at `at` and its code point; 0 when there is none.
std::size_t sequenceAt(std::string_view text, std::size_t at, char32_t& c) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
    c = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    c = (c << 6) | (next & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    return 0;
  }
  return length;
}

std::string hexByte(unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02x", byte);
  return text;
}

}  // namespace

bool decodeUtf8(std::string_view utf8, std::u32string& out) {
  out.clear();
  for (std::size_t at = 0; at < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = sequenceAt(utf8, at, c);
    if (length == 0) {
      return false;
    }
    out += c;
    at += length;
  }
  return true;
}

bool utf8ToWindows1251(std::string_view utf8, std::string& out, std::string* why) {
  out.clear();
  std::u32string decoded;
  if (!decodeUtf8(utf8, decoded)) {
    if (why != nullptr) {
      *why = "not valid UTF-8";
    }
    return false;
  }
  for (const char32_t c : decoded) {
    const int byte = windows1251Byte(c);
    if (byte < 0) {
      if (why != nullptr) {
        char text[48];
        std::snprintf(text, sizeof text, "U+%04X has no Windows-1251 byte",
                      static_cast<unsigned>(c));
        *why = text;
      }
      return false;
    }
    out += static_cast<char>(byte);
  }
  return true;
}

bool windows1251ToUtf8(std::string_view bytes, std::string& out) {
  out.clear();
  bool exact = true;
  for (const char b : bytes) {
    const auto byte = static_cast<unsigned char>(b);
    if (byte < 0x80) {
      out += b;
    } else if (byte >= 0xC0) {
      appendUtf8(out, 0x0410 + (byte - 0xC0));
    } else {
      const char16_t c = kHighHalf[byte - 0x80];
      exact = exact && c != 0;
      appendUtf8(out, c != 0 ? c : 0xFFFD);
    }
  }
  return exact;
}

std::string windows1251ToUtf8(std::string_view bytes) {
  std::string out;
  windows1251ToUtf8(bytes, out);
  return out;
}

std::string printableName(std::string_view bytes) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = sequenceAt(bytes, at, c);
    if (length == 0 || c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      // A C1 control is one valid sequence; every byte of it is written out.
      const std::size_t shown = length == 0 ? 1 : length;
      for (std::size_t i = 0; i < shown; ++i) {
        out += hexByte(static_cast<unsigned char>(bytes[at + i]));
      }
      at += shown;
    } else {
      out.append(bytes.substr(at, length));
      at += length;
    }
  }
  return out;
}

char32_t foldLetter(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0x0410 && c <= 0x042F)) {  // A..Z, А..Я
    return c + 0x20;
  }
  if (c >= 0x0400 && c <= 0x040F) {  // Ѐ..Џ, Ё among them
    return c + 0x50;
  }
  return c == 0x0490 ? 0x0491 : c;  // Ґ
}

std::string foldCase(std::string_view utf8) {
  std::string folded;
  folded.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = sequenceAt(utf8, at, c);
    if (length == 0) {
      folded += utf8[at++];
      continue;
    }
    // Every case pair here has the same UTF-8 length.
    appendUtf8(folded, foldLetter(c));
    at += length;
  }
  return folded;
}

}  // namespace vestrel
