// What the support services keep while the installer runs: the log, the error boxes, the gate
// of the retried failures' boxes and the help links.
//
// It is the first part of the run's one context (update/RunContext.h): every part of the
// installer reaches its state through supportContext() or runContext(), which give the context
// made current last. The program makes one at start-up; each test gets a fresh one, so nothing
// a case changes is seen by the next.
#pragma once

#include "support/BoxGate.h"
#include "support/ErrorReport.h"
#include "support/HelpLinks.h"
#include "support/Log.h"

namespace vestrel {

struct SupportContext {
  SupportContext() = default;
  SupportContext(const SupportContext&) = delete;
  SupportContext& operator=(const SupportContext&) = delete;

  LogState log;
  ErrorBoxes boxes;
  // After the boxes: its thread shows them, and is stopped and joined before they go.
  BoxGate boxGate{boxes};
  HelpLinks links;
};

// The current context. There is always one while the installer or a test runs.
SupportContext& supportContext();

// Makes `context` the current one and returns the one it replaces (nullptr: none). Called
// where no other thread of the installer runs: at start-up, and between tests.
SupportContext* makeCurrentContext(SupportContext* context);

}  // namespace vestrel
