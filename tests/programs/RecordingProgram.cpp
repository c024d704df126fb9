// Stands in for the installed update tool and launcher: writes what it was started with into
// "<its file name>.record" in its working directory, then ends.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  std::string self = argv[0];
  self = self.substr(self.rfind('/') + 1);
  std::FILE* out = std::fopen((self + ".record").c_str(), "w");
  if (out == nullptr) {
    return 1;
  }
  for (int i = 0; i < argc; ++i) {
    std::fprintf(out, "argv[%d]=%s\n", i, argv[i]);
  }
  char cwd[4096];
  std::fprintf(out, "cwd=%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
  std::fprintf(out, "session-leader=%d\n", getsid(0) == getpid() ? 1 : 0);
  // Every descriptor open in this process, besides the ones used to write this record.
  std::string fds;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || std::stoi(name) == dirfd(dir) ||
          std::stoi(name) == fileno(out)) {
        continue;
      }
      char target[4096] = {};
      readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
      fds += name + ":" + target + " ";
    }
    closedir(dir);
  }
  std::fprintf(out, "fds=%s\n", fds.c_str());
  std::fclose(out);
  return 0;
}
