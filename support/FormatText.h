// printf-style formatting of narrow text that never truncates.
#pragma once

#include <cstdarg>
#include <string>

namespace vestrel {

// Formats like sprintf into `buffer`, growing it to whatever the text needs.
void formatText(std::string& buffer, const char* format, ...);
void formatTextV(std::string& buffer, const char* format, std::va_list args);

// The same, returning the text.
std::string formatted(const char* format, ...);

// Formats one of the installer's own UTF-8 texts: the format is converted to the narrow
// encoding first, the arguments are narrow already.
std::string systemText(const char* utf8Format, ...);

// The system's text for an errno value.
std::string systemReason(int error);

}  // namespace vestrel
