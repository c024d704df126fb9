#include "update/ListRefusal.h"

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"

namespace vestrel {

void reportRefusedList(const char* listName, const std::string& narrowLine) {
  logLine(text::kBadListLine, listName, narrowLine.c_str());
  showError(platform::narrowText(text::kBadListBox));
}

}  // namespace vestrel
