#include "support/HelpLinks.h"

#include "BuildConfig.h"
#include "platform/Platform.h"
#include "support/SupportContext.h"

namespace vestrel {
namespace {

void openOnce(std::atomic<bool> HelpLinks::*opened, const char* displayForm) {
  HelpLinks& links = supportContext().links;
  if ((links.*opened).exchange(true)) {
    return;
  }
  const std::string url = platform::narrowText(std::string("https://") + displayForm);
  if (links.opener) {
    links.opener(url);
  } else {
    platform::openLink(url);
  }
}

}  // namespace

void openGeneralHelpLink() {
  openOnce(&HelpLinks::generalOpened, VESTREL_GENERAL_HELP_LINK);
}

void openSslHelpLink() {
  openOnce(&HelpLinks::sslOpened, VESTREL_SSL_HELP_LINK);
}

}  // namespace vestrel
