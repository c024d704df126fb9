// The error box is SDL's simple message box. It needs no window of ours and may be shown
// from any thread; it blocks only the thread that shows it.
#include <SDL.h>

#include <cstdio>

#include "platform/Platform.h"

namespace vestrel::platform {

void showErrorBox(const std::string& narrowTitle, const std::string& narrowText) {
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, narrowTitle.c_str(), narrowText.c_str(),
                               nullptr) != 0) {
    // Without a display the box cannot appear; the text still reaches the terminal.
    std::fprintf(stderr, "%s: %s\n", narrowTitle.c_str(), narrowText.c_str());
  }
}

}  // namespace vestrel::platform
