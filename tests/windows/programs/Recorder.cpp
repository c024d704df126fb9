// Stands in for the installed update tool and launcher on Windows: appends the command line
// it was started with, and its working directory, to "<its file name>.record" in that folder.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = self;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  FILE* out = _wfopen((name + L".record").c_str(), L"ab");
  if (out == nullptr) {
    return 1;
  }
  const std::wstring line =
      std::wstring(L"commandline=[") + GetCommandLineW() + L"] cwd=[" + directory + L"]\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  std::fputs(utf8.c_str(), out);
  std::fclose(out);
  return 0;
}
