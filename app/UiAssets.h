// The screen's five images and its font: the files of a vtui/ folder beside the program when
// it has them, else the copies the program carries. Never the working folder's: a shortcut
// or a prompt may start the program anywhere.
#pragma once

#include <imgui.h>

#include <cstddef>
#include <vector>

namespace vestrel {

// The program's own files, numbered as the build numbers their built-in copies.
enum class UiFile { Logo = 201, Background, Close, Hide, Fg, Font };

// The bytes of one of them; `storage` holds them when they were read from a file. False when
// neither a file nor a built-in copy is there.
struct UiFileBytes {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  std::vector<unsigned char> storage;
};
bool readUiFile(UiFile file, UiFileBytes& bytes);

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

// Adds the font to the GUI's atlas, with its Cyrillic letters. Without it the toolkit's
// built-in font stays, which has none.
void loadUiFont();

}  // namespace vestrel
