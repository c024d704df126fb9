// The two fixed layouts of the installer's window.
#pragma once

#include <cstdint>

#include "platform/Window.h"

namespace vestrel {

struct ScreenLayout {
  std::uint32_t windowWidth = 800;
  std::uint32_t windowHeight = 600;
  std::int32_t backgroundWidth = 850;
  std::int32_t logoX = 40;
  std::int32_t logoY = 25;
  bool compactLayout = false;
};

// The full layout for a first installation, the compact one when a folder is remembered.
ScreenLayout chooseLayout(bool folderKnown);

struct WindowPosition {
  int x = 0;
  int y = 0;
};

// Centred on the desktop with truncating integer halves.
WindowPosition centredPosition(const platform::DesktopRect& desktop, const ScreenLayout& layout);

}  // namespace vestrel
