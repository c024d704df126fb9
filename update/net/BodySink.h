// Where a transfer's body goes while it arrives. The transfer hands over each piece as it is
// received and stops at the first piece that is refused; once the transfer has ended,
// finish() says whether everything handed over reached the file.
#pragma once

#include <cstddef>

namespace vestrel {

class BodySink {
 public:
  virtual ~BodySink() = default;

  // Takes the next bytes of the body. False refuses them: the transfer should stop.
  virtual bool add(const char* data, std::size_t length) = 0;
  // Waits until every byte taken is written. False when a write failed; `error` then holds
  // the system's error number.
  virtual bool finish(int& error) = 0;
};

}  // namespace vestrel
