#include "support/SupportContext.h"

namespace vestrel {
namespace {

// The one pointer the context is reached by; everything else lives inside the context.
SupportContext* g_current = nullptr;

}  // namespace

SupportContext& supportContext() {
  return *g_current;
}

SupportContext* makeCurrentContext(SupportContext* context) {
  SupportContext* const previous = g_current;
  g_current = context;
  return previous;
}

}  // namespace vestrel
