#include "update/RunStage.h"

namespace vestrel {

bool stageStepAllowed(RunStage from, RunStage to) {
  switch (from) {
    case RunStage::Choosing:
      return to == RunStage::Preparing || to == RunStage::Ended;
    case RunStage::Preparing:
      return to == RunStage::Verifying || to == RunStage::Ended;
    case RunStage::Verifying:
      return to == RunStage::Downloading || to == RunStage::Ended;
    case RunStage::Downloading:
      return to == RunStage::Launching || to == RunStage::Ended;
    case RunStage::Launching:
      return to == RunStage::Ended;
    case RunStage::Ended:
      break;
  }
  return false;
}

bool moveToStage(std::atomic<RunStage>& stage, RunStage next) {
  RunStage current = stage.load();
  do {
    if (!stageStepAllowed(current, next)) {
      return false;
    }
  } while (!stage.compare_exchange_weak(current, next));
  return true;
}

}  // namespace vestrel
