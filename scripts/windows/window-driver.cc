// window-driver.exe: drives the windows of another program from outside,
// for the scripts that run OvixServerCommit.exe under Wine on a virtual
// display.  It does what a user would: waits for a window, types into a
// field, presses a button, answers message boxes; and it reads what a user
// cannot easily see: a box's texts and whether it stays on top.
//
//   window-driver.exe wait TITLE ID [MS [freeze]]
//       waits (30 s unless MS) for a visible window whose title holds TITLE and
//       that has control ID (0: any); prints "HWND LEFT TOP WIDTH HEIGHT".
//       With "freeze", the window's thread is suspended once it has had a
//       moment to draw it, so that it stays as drawn.
//   window-driver.exe type HWND ID TEXT      sets the text of control ID
//   window-driver.exe press HWND ID          clicks button ID (posted)
//   window-driver.exe run ANSWERS PROGRAM [ARG...]
//       starts PROGRAM with ARGs, answers each of its message boxes until it
//       has ended, the Nth box by the Nth of the comma-separated ANSWERS
//       (yes, no or ok; a box beyond them by OK, else No), and prints one
//       line per box: "topmost=0|1 TAB title TAB text TAB answer".  A program
//       still running after two minutes is ended (exit status 1).
//   window-driver.exe running NAME           prints the ids of the processes
//                                            of that executable name
//   window-driver.exe end NAME               ends those processes
//
// Exit status 0 on success, 1 when a window, process or control was not
// found in time, 2 for a usage error.  Built by the scripts themselves:
//   x86_64-w64-mingw32-g++-posix -std=c++20 -municode -static -O2
//     -o window-driver.exe window-driver.cc

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring className(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return name;
}

HWND handleOf(const wchar_t* text) {
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(text, nullptr, 10)));
}

std::vector<HWND> topLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> childWindows(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

// The ids of the processes whose executable file is `name` (any letter case).
std::set<DWORD> processesNamed(const wchar_t* name) {
  std::set<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    const wchar_t* base = std::wcsrchr(entry.szExeFile, L'\\');
    if (_wcsicmp(base != nullptr ? base + 1 : entry.szExeFile, name) == 0)
      ids.insert(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

int freeze(HWND window) {
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  HANDLE handle = OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread);
  if (handle == nullptr) return 1;
  DWORD suspended = SuspendThread(handle);
  CloseHandle(handle);
  return suspended == static_cast<DWORD>(-1) ? 1 : 0;
}

int waitForWindow(const wchar_t* title, int id, DWORD timeoutMs, bool freezeIt) {
  for (ULONGLONG end = GetTickCount64() + timeoutMs; GetTickCount64() < end; Sleep(100)) {
    for (HWND window : topLevelWindows()) {
      if (windowText(window).find(title) == std::wstring::npos ||
          (id != 0 && GetDlgItem(window, id) == nullptr))
        continue;
      if (freezeIt) {
        Sleep(300);
        if (freeze(window) != 0) return 1;
      }
      RECT box;
      GetWindowRect(window, &box);
      char line[128];
      std::snprintf(line, sizeof line, "%lld %ld %ld %ld %ld",
                    static_cast<long long>(reinterpret_cast<INT_PTR>(window)), box.left, box.top,
                    box.right - box.left, box.bottom - box.top);
      printLine(line);
      return 0;
    }
  }
  std::fwprintf(stderr, L"window-driver: no window \"%ls\" with control %d\n", title, id);
  return 1;
}

// A message box: a dialog with OK or Yes and no progress bar.
bool isMessageBox(HWND window) {
  if (className(window) != L"#32770") return false;
  if (GetDlgItem(window, IDOK) == nullptr && GetDlgItem(window, IDYES) == nullptr) return false;
  for (HWND child : childWindows(window)) {
    if (className(child) == L"msctls_progress32") return false;
  }
  return true;
}

// The box's message: the texts of its static controls, in order.
std::wstring boxText(HWND box) {
  std::wstring text;
  for (HWND child : childWindows(box)) {
    if (_wcsicmp(className(child).c_str(), L"Static") != 0) continue;
    std::wstring part = windowText(child);
    if (part.empty()) continue;
    if (!text.empty()) text += L' ';
    text += part;
  }
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
  }
  return text;
}

int buttonFor(HWND box, const std::wstring& answer) {
  int wanted = answer == L"yes" ? IDYES : answer == L"no" ? IDNO : answer == L"ok" ? IDOK : 0;
  if (wanted != 0 && GetDlgItem(box, wanted) != nullptr) return wanted;
  return GetDlgItem(box, IDOK) != nullptr ? IDOK : IDNO;
}

const wchar_t* buttonName(int id) { return id == IDYES ? L"yes" : id == IDNO ? L"no" : L"ok"; }

// The comma-separated words of `text`.
std::vector<std::wstring> words(const std::wstring& text) {
  std::vector<std::wstring> list;
  for (size_t start = 0; start < text.size();) {
    size_t comma = text.find(L',', start);
    if (comma == std::wstring::npos) comma = text.size();
    list.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return list;
}

int runAnsweringBoxes(const std::vector<std::wstring>& answers, int argc, wchar_t** argv) {
  // The program's path quoted, the arguments as given (quoted only when
  // they hold a blank): a program may compare its command line whole.
  std::wstring commandLine = L"\"" + std::wstring(argv[0]) + L"\"";
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    commandLine += arg.empty() || arg.find(L' ') != std::wstring::npos ? L" \"" + arg + L"\"" : L" " + arg;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fwprintf(stderr, L"window-driver: cannot start %ls (error %lu)\n", argv[0], GetLastError());
    return 1;
  }
  CloseHandle(process.hThread);
  std::set<HWND> answered;
  for (ULONGLONG end = GetTickCount64() + 120000;
       WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT;) {
    if (GetTickCount64() > end) {
      std::fwprintf(stderr, L"window-driver: %ls did not end in time\n", argv[0]);
      TerminateProcess(process.hProcess, 1);
      return 1;
    }
    for (HWND window : topLevelWindows()) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner != process.dwProcessId || answered.contains(window) || !isMessageBox(window))
        continue;
      size_t n = answered.size();
      int button = buttonFor(window, n < answers.size() ? answers[n] : L"ok");
      bool topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      printLine(std::string("topmost=") + (topmost ? "1" : "0") + "\t" + utf8(windowText(window)) +
                "\t" + utf8(boxText(window)) + "\t" + utf8(buttonName(button)));
      answered.insert(window);
      PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
    }
  }
  CloseHandle(process.hProcess);
  return 0;
}

int running(const wchar_t* name, bool end) {
  std::set<DWORD> ids = processesNamed(name);
  for (DWORD id : ids) {
    if (end) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
      if (process == nullptr) return 1;
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    } else {
      printLine(std::to_string(id));
    }
  }
  return ids.empty() && !end ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"wait" && argc >= 4 && argc <= 6)
    return waitForWindow(argv[2], _wtoi(argv[3]), argc > 4 ? _wtoi(argv[4]) : 30000,
                         argc > 5 && std::wstring(argv[5]) == L"freeze");
  if (command == L"type" && argc == 5)
    return SendMessageW(GetDlgItem(handleOf(argv[2]), _wtoi(argv[3])), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(argv[4]))
               ? 0
               : 1;
  if (command == L"press" && argc == 4) {
    HWND window = handleOf(argv[2]);
    int id = _wtoi(argv[3]);
    return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(window, id)))
               ? 0
               : 1;
  }
  if (command == L"run" && argc >= 4) return runAnsweringBoxes(words(argv[2]), argc - 3, argv + 3);
  if ((command == L"running" || command == L"end") && argc == 3)
    return running(argv[2], command == L"end");
  std::fwprintf(stderr, L"usage: window-driver.exe wait|type|press|run|running|end ...\n");
  return 2;
}
