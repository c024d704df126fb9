// The installer's entry point: start-up, the window and its frame loop, and shutdown.
#include <imgui.h>

#include <chrono>
#include <thread>

#include "app/InstallerScreen.h"
#include "app/ScreenLayout.h"
#include "app/UiAssets.h"
#include "platform/Platform.h"
#include "platform/Window.h"
#include "support/ErrorReport.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/Texts.h"
#include "update/PrepareDirectories.h"
#include "update/RunContext.h"

namespace vestrel {
namespace {

constexpr int kMaxFramesPerSecond = 75;
// How long a closed window waits for the run to stop, so that the process ends within a
// second of the click.
constexpr std::chrono::milliseconds kStopPatience{800};

constexpr char kWindowTitle[] = "Vestrel Installer";
const ImVec4 kClearColor(0.45f, 0.55f, 0.60f, 1.00f);

// The main window, centred on the desktop, with its graphics device. The status to end with
// when it cannot be had, else -1.
int openMainWindow(const platform::DesktopRect& desktop, const ScreenLayout& layout) {
  const WindowPosition position = centredPosition(desktop, layout);
  if (!platform::createMainWindow(kWindowTitle, position.x, position.y, layout.windowWidth,
                                  layout.windowHeight)) {
    // Without a window nothing is installed: the run that had started goes before the box.
    runContext().run.stop(kStopPatience);
    showError(platform::narrowText(text::kWindowCreateFailed));
    return 0;
  }
  platform::setMainWindowIcon();
  platform::bringToFront();
  // The compact window (a remembered folder) shows a picture and a bar; the chooser's dialog
  // is larger and scrolls.
  if (!platform::createGraphicsDevice(layout.compactLayout)) {
    return 1;  // silent: without a device nothing can be shown
  }
  platform::showMainWindow();
  return -1;
}

void setUpGui() {
  ImGui::CreateContext();
  ImGui::StyleColorsClassic();
  platform::initGuiBackends();
  loadUiFont();
  ImGui::GetIO().IniFilename = nullptr;
}

// Frames until the window is closed or the run has ended, at most kMaxFramesPerSecond of
// them: where presenting does not wait for the display (vsync off in the driver, a remote or
// virtual display) the loop would otherwise draw as fast as it can and take the processor
// from the downloads. The cap is above the common 60 Hz, so a frame that waited for the
// display is not held back further.
void runFrames(InstallerScreen& screen, const ScreenLayout& layout, RunContext& context) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kShortestFrame = std::chrono::microseconds(1000000 / kMaxFramesPerSecond);
  for (;;) {
    const Clock::time_point frameStart = Clock::now();
    if (platform::pumpMessages()) {
      return;
    }
    platform::beginGuiFrame();
    ImGui::NewFrame();
    if (!drawInstallerScreen(screen, layout, context)) {
      return;  // leave without rendering this frame
    }
    ImGui::Render();
    platform::renderAndPresent(kClearColor);
    std::this_thread::sleep_until(frameStart + kShortestFrame);
  }
}

// A remembered folder is the install folder only when it can be made and written: one whose
// drive is gone, or where the player may not write, is forgotten (the chooser asks for
// another, and the new folder's log says why). Otherwise its log starts here, so that the
// start banner is always the log's first record.
void takeRememberedFolder(InstallState& state, InstallerScreen& screen) {
  std::string why;
  if (!state.pathKnown || makeInstallFolder(state.installFolder, why)) {
    logStart(state.installFolder);
    return;
  }
  screen.forgottenFolder = state.installFolder;
  screen.forgottenWhy = why;
  forgetInstallFolder();
  state.installFolder.clear();
  state.pathKnown = false;
}

int run() {
  platform::setProcessLocale();
  RunContext context;
  makeCurrentContext(&context);
  // A second installer on the same account would truncate the first one's log and delete its
  // half-written downloads: it only says so and ends, touching nothing.
  if (platform::acquireInstanceLock() == platform::InstanceLock::HeldElsewhere) {
    showError(platform::narrowText(text::kAlreadyRunning));
    return 0;
  }
  // Auto-detecting a proxy may ask the network: it runs while the window opens.
  context.net.proxy.start(context.net.fileServer);
  InstallState& state = context.state;
  state.installFolder = loadInstallFolder();
  state.pathKnown = !state.installFolder.empty();
  InstallerScreen screen;
  takeRememberedFolder(state, screen);
  // A known folder's run starts now, so that its connection and its first round of requests
  // are under way while the window is made; it reports and changes nothing before the window
  // is there, and a window that cannot be made stops it.
  if (state.pathKnown) {
    context.run.holdForWindow();
    startRun(context);
  }

  const platform::DesktopRect desktop = platform::desktopRect();
  const ScreenLayout layout = chooseLayout(state.pathKnown);
  if (const int status = openMainWindow(desktop, layout); status >= 0) {
    context.run.stop(kStopPatience);
    return status;
  }
  setUpGui();
  setUpInstallerScreen(screen);
  // Its boxes come only once the window is ready to draw, as a run started now would show them.
  context.run.windowShown();
  runFrames(screen, layout, context);

  // The run stops first: the folder is saved and the end banner written after its last word.
  const bool stopped = context.run.stop(kStopPatience);
  saveInstallFolder(state.installFolder);
  logEnd();
  platform::shutdownGuiBackends();
  ImGui::DestroyContext();
  platform::releaseGraphicsDevice();
  platform::destroyMainWindow();
  if (!stopped) {
    endProcess(0);  // a thread the system holds cannot be joined: the process ends without it
  }
  return 0;
}

}  // namespace
}  // namespace vestrel

int main() {
  return vestrel::run();
}
