#include "launch/LaunchControl.h"

#include "platform/Platform.h"
#include "support/BoxGate.h"
#include "support/ErrorReport.h"
#include "support/FormatText.h"
#include "support/LocalPaths.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/Texts.h"
#include "update/InstallState.h"

namespace vestrel {
namespace {

// The texts of one program's start failures.
struct StartFailureTexts {
  const char* notFound;
  const char* notFoundHint;
  const char* notFoundBox;
  const char* denied;
  const char* deniedHint;
  const char* deniedBox;
  const char* other;
  const char* otherBox;
};

constexpr StartFailureTexts kUpdateToolTexts{
    text::kUpdateToolNotFound, text::kUpdateToolNotFoundHint, text::kUpdateToolNotFoundBox,
    text::kUpdateToolDenied,   text::kUpdateToolDeniedHint,   text::kUpdateToolDeniedBox,
    text::kUpdateToolOther,    text::kUpdateToolOtherBox};

constexpr StartFailureTexts kLauncherTexts{text::kLauncherNotFound,    text::kLauncherNotFoundHint,
                                           text::kLauncherNotFoundBox, text::kLauncherDenied,
                                           text::kLauncherDeniedHint,  text::kLauncherDeniedBox,
                                           text::kLauncherOther,       text::kLauncherOtherBox};

// Logs a start failure by its error code and shows its box.
void reportStartFailure(const StartFailureTexts& texts, int code) {
  if (code == platform::kStartFileNotFound) {
    logLine(texts.notFound);
    logLine(texts.notFoundHint);
    logLine(text::kAntivirusHint);
    showError(platform::narrowText(texts.notFoundBox));
  } else if (code == platform::kStartAccessDenied) {
    logLine(texts.denied);
    logLine(texts.deniedHint);
    showError(platform::narrowText(texts.deniedBox));
  } else {
    logLine(texts.other, code);
    logLine(text::kGeneralHint);
    showError(systemText(texts.otherBox, code));
  }
}

// Nothing is started that this run has not verified: a program the server's release does not
// list, or whose bytes were neither hashed to a listed digest nor downloaded and checked in
// this run, may be anything at all. Logs why and returns false.
bool programsVerified(const InstallState& state) {
  bool verified = true;
  const auto check = [&verified](bool listed, bool checked, const char* name) {
    if (!listed) {
      logLine(text::kStartableNotListed, name);
      verified = false;
    } else if (!checked) {
      logLine(text::kStartableNotVerified, name);
      verified = false;
    }
  };
  check(state.updateToolListed, state.updateToolVerified, kUpdateToolName);
  check(state.launcherListed, state.launcherVerified, kLauncherName);
  return verified;
}

}  // namespace

void launchInstalled(InstallState& state) {
  // A box of a failure retried meanwhile says nothing true any more, and the process that
  // shows it may hold a downloaded program open, which could then not be started.
  endBoxes();
  if (!programsVerified(state)) {
    showError(platform::narrowText(text::kReleaseIncompleteBox));
    saveInstallFolder(state.installFolder);
    return;
  }
  const std::string root = state.installFolder;
  // The folder in the system's own separators, ending in one; the update tool is still given
  // the install root exactly as stored.
  const std::string folder = platform::nativeFolder(joinPath(root, ""));

  const int toolResult = platform::startProgram(folder + kUpdateToolName, folder, root);
  if (toolResult != platform::kStartOk) {
    saveInstallFolder(state.installFolder);
    reportStartFailure(kUpdateToolTexts, toolResult);
    return;
  }

  if (platform::findRunningProcess(kLauncherName) != 0) {
    logLine(text::kDuplicateLauncher);
    showError(platform::narrowText(text::kDuplicateLauncherBox));
    saveInstallFolder(state.installFolder);
    return;
  }

  // "debu" is the word the launcher reads on its command line to know that the installer
  // started it; it is the launcher's interface, so it stays exactly these four letters.
  const int launcherResult = platform::startProgram(folder + kLauncherName, folder, "debu");
  if (launcherResult != platform::kStartOk) {
    // The folder was saved when it was chosen or read from the store already.
    reportStartFailure(kLauncherTexts, launcherResult);
    return;
  }
  saveInstallFolder(state.installFolder);
}

}  // namespace vestrel
