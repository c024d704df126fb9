// The window on Linux: an SDL2 window drawn through SDL_Renderer with vertical sync, and
// Dear ImGui's SDL2 and SDL_Renderer backends.
#include <SDL.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>
#include <stb/stb_image.h>
#include <sys/resource.h>

#include <cmath>
#include <optional>

#include "platform/Window.h"
#include "platform/posix/window/WindowIcon.h"

namespace vestrel::platform {
namespace {

SDL_Window* g_window = nullptr;
SDL_Renderer* g_renderer = nullptr;
// Where the last press came, for the frame that takes it (see pumpMessages()).
std::optional<ImVec2> g_pressedAt;

Uint8 channel(float value) {
  return static_cast<Uint8>(std::lround(std::fmin(std::fmax(value, 0.0f), 1.0f) * 255.0f));
}

bool ensureVideo() {
  return SDL_WasInit(SDL_INIT_VIDEO) != 0 || SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

}  // namespace

DesktopRect desktopRect() {
  SDL_Rect bounds{0, 0, 0, 0};
  if (ensureVideo()) {
    SDL_GetDisplayBounds(0, &bounds);
  }
  return {bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
}

bool createMainWindow(const char* utf8Title, int x, int y, unsigned width, unsigned height) {
  if (!ensureVideo()) {
    return false;
  }
  // Borderless and not resizable: the screen draws its own close and minimise buttons.
  g_window = SDL_CreateWindow(utf8Title, x, y, static_cast<int>(width), static_cast<int>(height),
                              SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
  return g_window != nullptr;
}

void setMainWindowIcon() {
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = stbi_load_from_memory(
      kWindowIconPng, static_cast<int>(kWindowIconPngSize), &width, &height, &channels, 4);
  if (pixels == nullptr) {
    return;
  }
  if (SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(pixels, width, height, 32, width * 4,
                                                             SDL_PIXELFORMAT_RGBA32)) {
    SDL_SetWindowIcon(g_window, icon);
    SDL_FreeSurface(icon);
  }
  stbi_image_free(pixels);
}

void bringToFront() {
  SDL_RaiseWindow(g_window);
  // A higher priority needs privileges most players lack; a refusal changes nothing.
  setpriority(PRIO_PROCESS, 0, -10);
}

bool createGraphicsDevice(bool onProcessor) {
  // Bringing up GL costs a good part of a short run's whole time where no graphics card does
  // the work (over a tenth of a second); a small window drawn a few dozen times a second
  // costs the processor next to nothing. The frame loop paces itself, so no vsync is needed.
  if (onProcessor) {
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  }
  g_renderer = SDL_CreateRenderer(g_window, -1,
                                  onProcessor ? SDL_RENDERER_SOFTWARE : SDL_RENDERER_PRESENTVSYNC);
  if (g_renderer == nullptr) {
    SDL_DestroyWindow(g_window);
    g_window = nullptr;
    return false;
  }
  SDL_SetRenderDrawBlendMode(g_renderer, SDL_BLENDMODE_BLEND);
  return true;
}

void showMainWindow() {
  SDL_ShowWindow(g_window);
}

bool initGuiBackends() {
  return ImGui_ImplSDL2_InitForSDLRenderer(g_window) && ImGui_ImplSDLRenderer_Init(g_renderer);
}

void shutdownGuiBackends() {
  ImGui_ImplSDLRenderer_Shutdown();
  ImGui_ImplSDL2_Shutdown();
}

// The GUI reads where the pointer is once a frame. A press and a move that came within one
// frame would put the press where the pointer went: a drag from the dialog, released over the
// close button, would be a click on it. A press therefore ends the frame's messages and is
// placed where it happened; what came after it waits for the next frame.
bool pumpMessages() {
  bool quit = false;
  SDL_Event event;
  while (!g_pressedAt.has_value() && SDL_PollEvent(&event)) {
    ImGui_ImplSDL2_ProcessEvent(&event);
    switch (event.type) {
      case SDL_MOUSEBUTTONDOWN:
        if (event.button.windowID == SDL_GetWindowID(g_window)) {
          g_pressedAt =
              ImVec2(static_cast<float>(event.button.x), static_cast<float>(event.button.y));
        }
        break;
      case SDL_QUIT:  // also what SDL makes of SIGTERM and SIGINT
        quit = true;
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
          quit = true;
        }
        break;
      case SDL_KEYDOWN:
        // Alt+F4 closes the window, as the system's own window handling does elsewhere.
        if (event.key.keysym.sym == SDLK_F4 && (event.key.keysym.mod & KMOD_ALT) != 0) {
          quit = true;
        }
        break;
      default:
        break;
    }
  }
  return quit;
}

void beginGuiFrame() {
  ImGui_ImplSDLRenderer_NewFrame();
  ImGui_ImplSDL2_NewFrame();
  if (g_pressedAt.has_value()) {
    ImGui::GetIO().MousePos = *g_pressedAt;
    g_pressedAt.reset();
  }
}

void renderAndPresent(const ImVec4& clearColor) {
  SDL_SetRenderDrawColor(g_renderer, channel(clearColor.x), channel(clearColor.y),
                         channel(clearColor.z), channel(clearColor.w));
  SDL_RenderClear(g_renderer);
  ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
  SDL_RenderPresent(g_renderer);
}

void minimizeMainWindow() {
  SDL_MinimizeWindow(g_window);
}

void releaseGraphicsDevice() {
  if (g_renderer != nullptr) {
    SDL_DestroyRenderer(g_renderer);
    g_renderer = nullptr;
  }
}

void destroyMainWindow() {
  if (g_window != nullptr) {
    SDL_DestroyWindow(g_window);
    g_window = nullptr;
  }
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

ImTextureID createTexture(const unsigned char* rgba, int width, int height) {
  SDL_Texture* texture = SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_RGBA32,
                                           SDL_TEXTUREACCESS_STATIC, width, height);
  if (texture == nullptr) {
    return nullptr;
  }
  if (SDL_UpdateTexture(texture, nullptr, rgba, width * 4) != 0) {
    SDL_DestroyTexture(texture);
    return nullptr;
  }
  SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
  SDL_SetTextureScaleMode(texture, SDL_ScaleModeLinear);
  return texture;
}

}  // namespace vestrel::platform
