#include "app/UiAssets.h"

#include <stb/stb_image.h>

#include <cstdio>
#include <string>

#include "platform/Platform.h"
#include "platform/Window.h"

namespace vestrel {
namespace {

const char* fileName(UiFile file) {
  switch (file) {
    case UiFile::Logo:
      return "vtui/images/vst_logotype.png";
    case UiFile::Background:
      return "vtui/images/vst_background.png";
    case UiFile::Close:
      return "vtui/images/vst_close.png";
    case UiFile::Hide:
      return "vtui/images/vst_hide.png";
    case UiFile::Fg:
      return "vtui/images/vst_fg.png";
    case UiFile::Font:
      break;
  }
  return "vtui/fonts/Roboto-Medium.ttf";
}

bool readWholeFile(const std::string& path, std::vector<unsigned char>& out) {
  std::FILE* file = platform::openFile(path, "rb");
  if (file == nullptr) {
    return false;
  }
  out.clear();
  unsigned char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    out.insert(out.end(), chunk, chunk + got);
  }
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read && !out.empty();
}

// Decodes an image to 8-bit RGBA and uploads it. A file beside the program that does not
// decode gives way to the built-in copy; the texture stays empty when neither will do.
void loadTexture(UiFile file, ImTextureID& texture) {
  UiFileBytes bytes;
  if (!readUiFile(file, bytes)) {
    return;
  }
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = stbi_load_from_memory(bytes.data, static_cast<int>(bytes.size), &width,
                                                &height, &channels, 4);
  if (pixels == nullptr && !bytes.storage.empty() &&
      platform::builtInFile(static_cast<int>(file), bytes.data, bytes.size)) {
    pixels = stbi_load_from_memory(bytes.data, static_cast<int>(bytes.size), &width, &height,
                                   &channels, 4);
  }
  if (pixels == nullptr) {
    return;
  }
  // The decoded pixels are freed right after the upload; only the texture stays.
  texture = platform::createTexture(pixels, width, height);
  stbi_image_free(pixels);
}

}  // namespace

bool readUiFile(UiFile file, UiFileBytes& bytes) {
  const std::string folder = platform::programFolder();
  if (!folder.empty() && readWholeFile(folder + fileName(file), bytes.storage)) {
    bytes.data = bytes.storage.data();
    bytes.size = bytes.storage.size();
    return true;
  }
  return platform::builtInFile(static_cast<int>(file), bytes.data, bytes.size);
}

UiTextures& uiTextures() {
  static UiTextures textures;
  return textures;
}

void loadUiTextures() {
  UiTextures& textures = uiTextures();
  loadTexture(UiFile::Logo, textures.logo);
  loadTexture(UiFile::Background, textures.background);
  loadTexture(UiFile::Close, textures.close);
  loadTexture(UiFile::Hide, textures.hide);
  loadTexture(UiFile::Fg, textures.fg);
}

void loadUiFont() {
  // The atlas reads the font's bytes again whenever it is rebuilt, so they stay for the
  // program's life; it must not free them, as a built-in copy is not its to free.
  static UiFileBytes font;
  if (font.data == nullptr && !readUiFile(UiFile::Font, font)) {
    return;
  }
  ImFontConfig config;
  config.FontDataOwnedByAtlas = false;
  ImGuiIO& io = ImGui::GetIO();
  io.Fonts->AddFontFromMemoryTTF(const_cast<unsigned char*>(font.data), static_cast<int>(font.size),
                                 16.0f, &config, io.Fonts->GetGlyphRangesCyrillic());
}

}  // namespace vestrel
