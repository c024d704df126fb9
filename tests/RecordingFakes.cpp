#include "tests/TestSupport.h"
#include "update/RunContext.h"

namespace vestrel::test {

RecordingFakes::RecordingFakes() {
  runContext().boxes.setSink(
      [recorded = recorded_](const std::string& title, const std::string& text) {
        const std::lock_guard<std::mutex> lock(recorded->mutex);
        recorded->boxes.push_back({title, text});
        recorded->events.push_back("box:" + text);
      });
  runContext().links.opener = [recorded = recorded_](const std::string& url) {
    const std::lock_guard<std::mutex> lock(recorded->mutex);
    recorded->links.push_back(url);
    recorded->events.push_back("link:" + url);
  };
}

std::vector<RecordedBox> RecordingFakes::boxes() const {
  runContext().boxGate.waitIdle();
  const std::lock_guard<std::mutex> lock(recorded_->mutex);
  return recorded_->boxes;
}

std::vector<std::string> RecordingFakes::links() const {
  const std::lock_guard<std::mutex> lock(recorded_->mutex);
  return recorded_->links;
}

std::vector<std::string> RecordingFakes::events() const {
  const std::lock_guard<std::mutex> lock(recorded_->mutex);
  return recorded_->events;
}

}  // namespace vestrel::test
