#include "update/RunContext.h"

#include "update/PublisherKeys.h"

namespace vestrel {

RunContext::RunContext() : publisherKeys(builtInPublisherKeys()) {}

RunContext::~RunContext() {
  // Stopped here, while every part it uses is whole; the members then go in reverse order.
  run.stop();
}

}  // namespace vestrel
