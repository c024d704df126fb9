// The two help links that error texts name and the fetcher opens in the browser.
#pragma once

#include <string>

namespace vestrel {

// The general guide on the community forum, and the guide for SSL connection problems.
// Both are opened with the https scheme in front of their display form, each at most once
// per run.
void openGeneralHelpLink();
void openSslHelpLink();

// Replaces how links are opened (tests record them instead). nullptr restores the browser.
using LinkOpener = void (*)(const std::string& narrowUrl);
void setLinkOpener(LinkOpener opener);

// Lets each link be opened once more (tests start every case as a fresh run).
void forgetOpenedLinks();

}  // namespace vestrel
