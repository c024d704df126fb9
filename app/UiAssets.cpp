#include "app/UiAssets.h"

#include <stb/stb_image.h>

#include <cstdio>

#include "platform/Platform.h"
#include "platform/Window.h"

namespace vestrel {

UiTextures& uiTextures() {
  static UiTextures textures;
  return textures;
}

bool loadTextureFromFile(const char* path, ImTextureID& texture, int& width, int& height) {
  std::FILE* file = platform::openFile(path, "rb");
  if (file == nullptr) {
    return false;
  }
  int w = 0, h = 0, channels = 0;
  unsigned char* pixels = stbi_load_from_file(file, &w, &h, &channels, 4);
  std::fclose(file);
  if (pixels == nullptr) {
    return false;
  }
  // The decoded pixels are freed right after the upload; only the texture stays.
  const ImTextureID made = platform::createTexture(pixels, w, h);
  stbi_image_free(pixels);
  if (made == nullptr) {
    return false;
  }
  texture = made;
  width = w;
  height = h;
  return true;
}

void loadUiTextures() {
  UiTextures& textures = uiTextures();
  int width = 0, height = 0;
  loadTextureFromFile("vtui/images/vst_logotype.png", textures.logo, width, height);
  loadTextureFromFile("vtui/images/vst_background.png", textures.background, width, height);
  loadTextureFromFile("vtui/images/vst_close.png", textures.close, width, height);
  loadTextureFromFile("vtui/images/vst_hide.png", textures.hide, width, height);
  loadTextureFromFile("vtui/images/vst_fg.png", textures.fg, width, height);
}

}  // namespace vestrel
