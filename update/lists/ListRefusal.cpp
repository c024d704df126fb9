#include "update/lists/ListRefusal.h"

#include "platform/Platform.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Texts.h"
#include "update/lists/ListRules.h"

namespace vestrel {

void reportRefusedList(const char* listName, const std::string& narrowLine) {
  logLine(text::kBadListLine, listName, printableListLine(narrowLine).c_str());
  showError(platform::narrowText(text::kBadListBox));
}

void reportOversizedList(const char* listName) {
  logLine(text::kListTooLarge, listName, static_cast<int>(kMaxListBytes));
  showError(platform::narrowText(text::kBadListBox));
}

}  // namespace vestrel
