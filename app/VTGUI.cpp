// The installer's entry point. The window and the installer screen arrive with the GUI; until
// then the program only loads the remembered folder and ends the way a closed window does.
#include "platform/Platform.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "update/InstallState.h"

int main() {
  using namespace vestrel;
  platform::setProcessLocale();
  InstallState& state = installState();
  loadLauncherPath(state);
  if (state.pathKnown) {
    logStart(state.launcherPath);
  }
  saveLauncherPath(state);
  logEnd();
  return 0;
}
