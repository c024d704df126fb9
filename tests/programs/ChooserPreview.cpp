// Shows the folder chooser in a real window with the installer's font and saves a screenshot:
//   vestrel-chooser-preview OUTPUT.png [FOLDER]
// It opens the dialog in FOLDER (default: the working directory), as the installer's first
// run does, renders a few frames and writes the window's pixels to OUTPUT.png.
#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>
#include <stb/stb_image_write.h>

#include <cstdio>
#include <string>
#include <vector>

#include "chooser/DirectoryChooserDialog.h"
#include "platform/Platform.h"
#include "support/Texts.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [FOLDER]\n", argv[0]);
    return 2;
  }
  vestrel::platform::setProcessLocale();
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
    return 1;
  }
  SDL_Window* window = SDL_CreateWindow("Vestrel Installer", SDL_WINDOWPOS_CENTERED,
                                        SDL_WINDOWPOS_CENTERED, 800, 600, SDL_WINDOW_BORDERLESS);
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC);
  if (window == nullptr || renderer == nullptr) {
    std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
    return 1;
  }
  ImGui::CreateContext();
  ImGui::StyleColorsClassic();
  ImGui::GetIO().IniFilename = nullptr;
  ImGui_ImplSDL2_InitForSDLRenderer(window);
  ImGui_ImplSDLRenderer_Init(renderer);
  ImGuiIO& io = ImGui::GetIO();
  io.Fonts->AddFontFromFileTTF(
      "/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF/Roboto-Medium.ttf", 16.0f, nullptr,
      io.Fonts->GetGlyphRangesCyrillic());

  vestrel::DirectoryChooserDialog chooser;
  if (argc > 2) {
    chooser.model().currentPath = argv[2];
    chooser.model().splitPath(argv[2]);
  }
  const char* title = vestrel::text::kChooserTitle;
  for (int frame = 0; frame < 30; ++frame) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      ImGui_ImplSDL2_ProcessEvent(&event);
    }
    ImGui_ImplSDLRenderer_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(-5, 0), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(810, 600), ImGuiCond_Always);
    ImGui::Begin("MainWindow", nullptr, 443);
    ImGui::OpenPopup(title);
    chooser.show(title, ImVec2(700, 310));
    ImGui::End();
    ImGui::Render();
    SDL_SetRenderDrawColor(renderer, 115, 140, 153, 255);
    SDL_RenderClear(renderer);
    ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
    if (frame == 29) {
      std::vector<unsigned char> pixels(800 * 600 * 4);
      SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_ABGR8888, pixels.data(), 800 * 4);
      stbi_write_png(argv[1], 800, 600, 4, pixels.data(), 800 * 4);
    }
    SDL_RenderPresent(renderer);
  }
  ImGui_ImplSDLRenderer_Shutdown();
  ImGui_ImplSDL2_Shutdown();
  ImGui::DestroyContext();
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
