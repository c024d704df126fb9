// Everything the installer shows inside its window, rebuilt every frame.
#pragma once

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

// Draws the progress track and its fill for `percent` into the current window's draw list.
void drawProgressBar(float percent);

}  // namespace vestrel
