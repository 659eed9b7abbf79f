#include "win32/notepad.h"

#include <windows.h>

#include <algorithm>

#include "platform/utf16_windows.h"

namespace ovix::win32 {

bool openInNotepad(const std::string& path) {
  std::wstring file = widen(path);
  std::replace(file.begin(), file.end(), L'/', L'\\');
  // A path cannot hold '"', so quoting it is enough.
  std::wstring commandLine = L"notepad.exe \"" + file + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace ovix::win32
