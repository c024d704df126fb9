#include "support/HelpLinks.h"

#include <atomic>

#include "BuildConfig.h"
#include "platform/Platform.h"

namespace vestrel {
namespace {

LinkOpener g_opener = nullptr;
std::atomic<bool> g_generalOpened{false};
std::atomic<bool> g_sslOpened{false};

// A failing download is reported on every attempt; the browser page is opened only the first
// time, so a server that stays down never floods the player's browser.
void openOnce(std::atomic<bool>& opened, const char* displayForm) {
  if (opened.exchange(true)) {
    return;
  }
  const std::string url = platform::narrowText(std::string("https://") + displayForm);
  if (g_opener != nullptr) {
    g_opener(url);
  } else {
    platform::openLink(url);
  }
}

}  // namespace

void openGeneralHelpLink() {
  openOnce(g_generalOpened, VESTREL_GENERAL_HELP_LINK);
}

void openSslHelpLink() {
  openOnce(g_sslOpened, VESTREL_SSL_HELP_LINK);
}

void setLinkOpener(LinkOpener opener) {
  g_opener = opener;
}

void forgetOpenedLinks() {
  g_generalOpened = false;
  g_sslOpened = false;
}

}  // namespace vestrel
