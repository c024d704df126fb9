#include "support/HelpLinks.h"

#include "BuildConfig.h"
#include "platform/Platform.h"

namespace vestrel {
namespace {

LinkOpener g_opener = nullptr;

void open(const char* displayForm) {
  const std::string url = platform::narrowText(std::string("https://") + displayForm);
  if (g_opener != nullptr) {
    g_opener(url);
  } else {
    platform::openLink(url);
  }
}

}  // namespace

void openGeneralHelpLink() {
  open(VESTREL_GENERAL_HELP_LINK);
}

void openSslHelpLink() {
  open(VESTREL_SSL_HELP_LINK);
}

void setLinkOpener(LinkOpener opener) {
  g_opener = opener;
}

}  // namespace vestrel
