#include "update/lists/ManifestLines.h"

#include <cstdio>
#include <memory>

#include "platform/Platform.h"

namespace vestrel {

ListLineSplitter::ListLineSplitter(LineHandler onLine) : onLine_(std::move(onLine)) {
  line_.reserve(kMaxListLineBytes + 2);
}

bool ListLineSplitter::feed(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size && !stopped_; ++i) {
    if (data[i] != '\n') {
      // One byte more than the limit is kept: it may be the CR that ends the line.
      if (line_.size() > kMaxListLineBytes) {
        tooLong_ = true;
        stopped_ = true;
        break;
      }
      line_.push_back(data[i]);
      pending_ = true;
      continue;
    }
    // Lists may come with CR LF line ends; only the CR that ends the line is dropped.
    if (!line_.empty() && line_.back() == '\r') {
      line_.pop_back();
    }
    if (line_.size() > kMaxListLineBytes) {
      tooLong_ = true;
      stopped_ = true;
      break;
    }
    stopped_ = !onLine_(line_);
    line_.clear();
    pending_ = false;
  }
  return !stopped_;
}

bool ListLineSplitter::finish() {
  if (stopped_) {
    return false;
  }
  if (pending_) {
    pending_ = false;
    if (line_.size() > kMaxListLineBytes) {
      tooLong_ = true;
      stopped_ = true;
      return false;
    }
    stopped_ = !onLine_(line_);
  }
  return !stopped_;
}

ListRead readListLines(const std::string& narrowPath, const ListLineSplitter::LineHandler& onLine,
                       std::string* longLineStart) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  const std::unique_ptr<std::FILE, Closer> file(platform::openFile(narrowPath, "rb"));
  if (file == nullptr) {
    return ListRead::Complete;
  }
  ListLineSplitter splitter(onLine);
  char chunk[4096];
  std::size_t got = 0;
  bool going = true;
  while (going && (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    going = splitter.feed(chunk, got);
  }
  if (going) {
    going = splitter.finish();
  }
  if (splitter.stoppedOnLongLine()) {
    if (longLineStart != nullptr) {
      *longLineStart = splitter.longLineStart();
    }
    return ListRead::LineTooLong;
  }
  return going ? ListRead::Complete : ListRead::Stopped;
}

}  // namespace vestrel
