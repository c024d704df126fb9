// Everything the installer shows inside its window, rebuilt every frame.
#pragma once

#include <imgui.h>

#include <string>

#include "app/ScreenLayout.h"
#include "chooser/DirectoryChooserDialog.h"

namespace vestrel {

struct RunContext;

struct InstallerScreen {
  DirectoryChooserDialog chooser;
  // A remembered folder that could not be used at start-up, and why: the log of the folder
  // chosen instead says so first. Empty when there was none.
  std::string forgottenFolder;
  std::string forgottenWhy;
};

// Loads the textures; once, before the first frame.
void setUpInstallerScreen(InstallerScreen& screen);

// Starts the run on the folder the install state holds: its thread does the rest, and ends
// with the launch (launch/LaunchControl.h).
void startRun(RunContext& context);

// Builds this frame's GUI between ImGui::NewFrame and ImGui::Render, from the run's stage:
// the chooser while no folder is known, then the layout's panel and bar. It never waits on
// anything. False when the window is to close: its close button was pressed, or the run has
// ended; the loop is then left without rendering this frame.
bool drawInstallerScreen(InstallerScreen& screen, const ScreenLayout& layout, RunContext& context);

// Where a progress bar is drawn: its black track and, inside it, the fill at 100 percent.
struct ProgressBarPlace {
  ImVec2 trackMin, trackMax;
  ImVec2 fillMin;
  float fillWidth, fillHeight;
};
// The full layout's bar at the window's foot, and the compact layout's thin one under its
// label.
inline const ProgressBarPlace kFullBar{{35, 548}, {762, 560}, {38, 551}, 720, 6};
inline const ProgressBarPlace kCompactBar{{120, 282}, {280, 288}, {122, 284}, 156, 2};

// Draws a bar's track and its fill for `percent` into the current window's draw list.
void drawBar(const ProgressBarPlace& place, float percent);

// The full layout's bar.
void drawProgressBar(float percent);

}  // namespace vestrel
