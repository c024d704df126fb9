// The screen's five images, loaded once from the vtui folder in the working directory.
#pragma once

#include <imgui.h>

namespace vestrel {

struct UiTextures {
  ImTextureID logo = nullptr;
  ImTextureID background = nullptr;
  ImTextureID close = nullptr;
  ImTextureID hide = nullptr;
  ImTextureID fg = nullptr;
};

// The process-wide textures; an image that failed to load stays empty and draws nothing.
UiTextures& uiTextures();

// Loads logo, background, close, hide and fg, in that order. Missing images are silent.
void loadUiTextures();

// Decodes an image to 8-bit RGBA and uploads it. False when the file cannot be opened or
// decoded, or the texture cannot be made.
bool loadTextureFromFile(const char* path, ImTextureID& texture, int& width, int& height);

}  // namespace vestrel
