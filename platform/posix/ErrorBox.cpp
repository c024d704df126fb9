// The error box is SDL's simple message box. It needs no window of ours and may be shown
// from any thread; it blocks only the thread that shows it.
#include <SDL.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

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

// The state, parent and session of a process, from /proc/PID/stat; false when it is gone.
bool readStat(const std::string& pid, char& state, long& parent, long& session) {
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
  long group = 0;
  return static_cast<bool>(fields >> state >> parent >> group >> session);
}

}  // namespace

// On X11 the toolkit shows each box from a forked child, which stays on screen when this
// process ends. The children in this process's own session are such boxes: the programs the
// installer starts get sessions of their own and are left alone. A box's process holds every
// file that was open when it was forked, downloads in flight among them (a program held open
// for writing cannot be started), so this returns once each has let go of them: when it has
// become a zombie, which its own thread of the toolkit reaps.
void endErrorBoxes() {
  const long self = static_cast<long>(::getpid());
  const long session = static_cast<long>(::getsid(0));
  std::error_code error;
  std::vector<std::string> ended;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string pid = entry.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    char state = 0;
    long parent = 0;
    long childSession = 0;
    if (readStat(pid, state, parent, childSession) && parent == self && childSession == session &&
        state != 'Z') {
      ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
      ended.push_back(pid);
    }
  }
  for (const std::string& pid : ended) {
    char state = 0;
    long parent = 0;
    long childSession = 0;
    for (int i = 0; i < 2000 && readStat(pid, state, parent, childSession) && state != 'Z'; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

}  // namespace vestrel::platform
