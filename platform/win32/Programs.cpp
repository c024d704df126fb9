// Starting the installed programs with CreateProcessW, and the process list through the
// Toolhelp snapshot.
#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>

#include "platform/Platform.h"
#include "platform/win32/WideText.h"

namespace vestrel::platform {

int startProgram(const std::string& narrowPath, const std::string& narrowWorkingDirectory,
                 const std::string& argument) {
  const std::wstring path = win32::toWide(narrowPath);
  const std::wstring directory = win32::toWide(narrowWorkingDirectory);
  // The command line is a blank and the argument; CreateProcessW may write into it.
  std::wstring commandLine = win32::toWide(" " + argument);
  commandLine.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                      nullptr, directory.c_str(), &startup, &process)) {
    return static_cast<int>(GetLastError());
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return kStartOk;
}

std::uint32_t findRunningProcess(const std::string& imageName) {
  const std::wstring wanted = win32::toWide(imageName);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return 0;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  std::uint32_t found = 0;
  // Whole names, unit by unit: a different letter case is a different program.
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (std::wcscmp(entry.szExeFile, wanted.c_str()) == 0) {
      found = entry.th32ProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace vestrel::platform
