// The error box is SDL's simple message box. It needs no window of ours and may be shown
// from any thread; it blocks only the thread that shows it.
#include <SDL.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/Platform.h"

namespace vestrel::platform {

void showErrorBox(const std::string& narrowTitle, const std::string& narrowText) {
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, narrowTitle.c_str(), narrowText.c_str(),
                               nullptr) != 0) {
    // Without a display the box cannot appear; the text still reaches the terminal.
    std::fprintf(stderr, "%s: %s\n", narrowTitle.c_str(), narrowText.c_str());
  }
}

namespace {

// The parent and session of a process, from /proc/PID/stat; false when it is gone.
bool parentAndSession(const std::string& pid, long& parent, long& session) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return false;
  }
  // The command name may hold spaces and parentheses: the fields follow the last ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) {
    return false;
  }
  std::istringstream fields(line.substr(close + 1));
  char state = 0;
  long group = 0;
  return static_cast<bool>(fields >> state >> parent >> group >> session);
}

}  // namespace

// On X11 the toolkit shows each box from a forked child, which stays on screen when this
// process ends. The children in this process's own session are such boxes: the programs the
// installer starts get sessions of their own and are left alone.
void endErrorBoxes() {
  const long self = static_cast<long>(::getpid());
  const long session = static_cast<long>(::getsid(0));
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string pid = entry.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    long parent = 0;
    long childSession = 0;
    if (parentAndSession(pid, parent, childSession) && parent == self && childSession == session) {
      ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
    }
  }
}

}  // namespace vestrel::platform
