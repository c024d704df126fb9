// Help links open in the desktop's browser through SDL; SDL cannot tell whether one opened.
#include <SDL.h>

#include "platform/Platform.h"

namespace vestrel::platform {

void openLink(const std::string& narrowUrl) {
  SDL_OpenURL(narrowUrl.c_str());
}

}  // namespace vestrel::platform
