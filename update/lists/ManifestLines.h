// Reading the server's three lists (folders, files, digests) line by line.
//
// A line is every byte up to the next LF; a CR right before the LF is dropped, any other byte
// is kept (no trimming, blank lines included). The last line needs no LF, and a final LF adds
// no empty line. No line the installer could use is longer than kMaxListLineBytes, so a longer
// one stops the reading at once: memory never holds more than one short line, whatever the
// server sent.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vestrel {

// The longest line any list may hold: every line must fit a 260-byte path buffer.
inline constexpr std::size_t kMaxListLineBytes = 259;

// Cuts bytes fed in any number of pieces into lines.
class ListLineSplitter {
 public:
  using LineHandler = std::function<bool(const std::string&)>;
  explicit ListLineSplitter(LineHandler onLine);

  // Hands every completed line to the handler. False once reading has stopped: the handler
  // returned false, or a line grew past kMaxListLineBytes.
  bool feed(const char* data, std::size_t size);
  // The input ended: a last line without LF is handed over. False when reading had stopped.
  bool finish();

  // Whether reading stopped on an over-long line, and that line's first bytes.
  bool stoppedOnLongLine() const { return tooLong_; }
  const std::string& longLineStart() const { return line_; }

 private:
  LineHandler onLine_;
  std::string line_;
  bool pending_ = false;  // bytes seen since the last LF
  bool stopped_ = false;
  bool tooLong_ = false;
};

// The outcome of reading a list file.
enum class ListRead { Complete, Stopped, LineTooLong };

// Calls `onLine` with each line of the file, in order, until the end or until it returns
// false. A file that cannot be opened yields no lines and counts as complete. On LineTooLong,
// `longLineStart` (when given) receives the over-long line's first bytes.
ListRead readListLines(const std::string& narrowPath, const ListLineSplitter::LineHandler& onLine,
                       std::string* longLineStart = nullptr);

}  // namespace vestrel
