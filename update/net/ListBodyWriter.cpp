#include "update/net/ListBodyWriter.h"

#include "update/lists/ListRules.h"

namespace vestrel {

bool ListBodyWriter::add(const char* data, std::size_t length) {
  if (length > kMaxListBytes - received_) {
    overLimit_ = true;
    return false;
  }
  received_ += length;
  return std::fwrite(data, 1, length, file_) == length;
}

bool ListBodyWriter::finish(int& error) {
  error = 0;
  return true;
}

}  // namespace vestrel
