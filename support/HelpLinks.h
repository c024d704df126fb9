// The two help links that error texts name and the fetcher opens in the browser.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace vestrel {

// What the run keeps of its help links, in the run's context (support/SupportContext.h): a
// failing download is reported on every attempt, but each page is opened only the first time,
// so a server that stays down never floods the player's browser.
struct HelpLinks {
  // Where links go instead of the browser (tests record them); empty: the browser.
  std::function<void(const std::string& narrowUrl)> opener;
  std::atomic<bool> generalOpened{false};
  std::atomic<bool> sslOpened{false};
};

// The general guide on the community forum, and the guide for SSL connection problems.
// Both are opened with the https scheme in front of their display form, each at most once
// per run.
void openGeneralHelpLink();
void openSslHelpLink();

}  // namespace vestrel
