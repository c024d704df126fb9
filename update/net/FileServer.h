// Where the file server is, and which CA the transfers trust.
#pragma once

#include <string>

namespace vestrel {

// The server's base address, an https address whose path is "/launcher". It is fixed when
// the program is built; tests that run several servers side by side replace it.
const std::string& fileServerBase();
void setFileServerBase(const std::string& base);

// A CA bundle to trust instead of the system store, or empty.
const char* caFile();

}  // namespace vestrel
