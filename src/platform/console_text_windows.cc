#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/console_text.h"
#include "platform/utf16_windows.h"

namespace ovix {
namespace {

// The console behind `f`, or null when `f` is a file, a pipe or a device
// such as NUL (for which _isatty would say yes).
HANDLE consoleOf(std::FILE* f) {
  if (f == nullptr) return nullptr;
  const int fd = _fileno(f);
  if (fd < 0) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

// Stops the C library from writing "\r\n" for our '\n', so that redirected
// output holds exactly the bytes given.  Done on every write, as a
// descriptor number may by now belong to another stream; the C library
// translates when it hands its buffer to the system, so what `f` holds
// already goes out untranslated as well.
void useBinaryMode(std::FILE* f) {
  const int fd = _fileno(f);
  if (fd >= 0) _setmode(fd, _O_BINARY);
}

bool writeConsole(HANDLE console, std::string_view utf8) {
  const std::wstring wide = widen(utf8);
  // In pieces: older consoles refuse a single write of more than 64 KB.
  constexpr size_t kPiece = 8192;
  const wchar_t* p = wide.data();
  size_t left = wide.size();
  while (left > 0) {
    size_t piece = left < kPiece ? left : kPiece;
    // A surrogate pair is never split between two writes.
    if (piece < left && IS_HIGH_SURROGATE(p[piece - 1])) --piece;
    DWORD written = 0;
    if (!WriteConsoleW(console, p, static_cast<DWORD>(piece), &written, nullptr) || written == 0)
      return false;
    p += written;
    left -= written;
  }
  return true;
}

}  // namespace

bool isTerminal(std::FILE* f) { return consoleOf(f) != nullptr; }

bool writeText(std::FILE* f, std::string_view utf8) {
  if (f == nullptr) return false;
  if (HANDLE console = consoleOf(f)) {
    // What the stream holds goes first, or the two would come out swapped.
    if (std::fflush(f) != 0) return false;
    return writeConsole(console, utf8);
  }
  useBinaryMode(f);
  return std::fwrite(utf8.data(), 1, utf8.size(), f) == utf8.size();
}

std::vector<std::string> programArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return argc < 1 ? std::vector<std::string>{}
                                       : std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(narrow(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace ovix
