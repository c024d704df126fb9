// Loaded into the installer with LD_PRELOAD by the end-to-end tests: every request for a
// graphics device fails, as on a machine whose driver cannot give one. Setting
// SDL_RENDER_DRIVER to an unknown name is not enough for that, since SDL then falls back
// to the drivers it has.
#include <SDL.h>

extern "C" SDL_Renderer* SDL_CreateRenderer(SDL_Window*, int, Uint32) {
  SDL_SetError("no graphics device (refused for the test)");
  return nullptr;
}
