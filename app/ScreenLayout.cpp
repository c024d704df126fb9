#include "app/ScreenLayout.h"

namespace vestrel {

ScreenLayout chooseLayout(bool folderKnown) {
  if (!folderKnown) {
    return ScreenLayout{};
  }
  return ScreenLayout{400, 300, 450, 161, 115, true};
}

WindowPosition centredPosition(const platform::DesktopRect& desktop, const ScreenLayout& layout) {
  const int width = static_cast<int>(layout.windowWidth);
  const int height = static_cast<int>(layout.windowHeight);
  return {(desktop.right - desktop.left) / 2 - width / 2,
          (desktop.bottom - desktop.top) / 2 - height / 2};
}

}  // namespace vestrel
