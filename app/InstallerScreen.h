// Everything the installer shows inside its window, rebuilt every frame.
#pragma once

#include <imgui.h>

#include <string>

#include "app/ScreenLayout.h"
#include "chooser/DirectoryChooserDialog.h"

namespace vestrel {

struct InstallState;

struct InstallerScreen {
  std::string chosenPath;
  bool directoriesPrepared = false;
  DirectoryChooserDialog chooser;
};

// Loads the textures and constructs the chooser; once, before the first frame.
void setUpInstallerScreen(InstallerScreen& screen);

// Builds this frame's GUI between ImGui::NewFrame and ImGui::Render. False when the close
// button was pressed: the loop is then left without rendering this frame. In launch mode it
// does not return.
bool drawInstallerScreen(InstallerScreen& screen, const ScreenLayout& layout, InstallState& state);

// The per-frame work once a folder is known, inside the main window: the worker protocol,
// the drawing for the current mode, and launch control.
void runInstallerScreen(InstallState& state);

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
