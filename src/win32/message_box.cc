#include "win32/message_box.h"

#include <windows.h>

#include "platform/utf16_windows.h"

namespace ovix::win32 {

namespace {

int box(const std::string& title, const std::string& text, UINT type, bool topmost) {
  HWND owner = topmost ? nullptr : GetActiveWindow();
  if (topmost) type |= MB_TOPMOST | MB_SETFOREGROUND;
  return MessageBoxW(owner, widen(text).c_str(), widen(title).c_str(), type);
}

}  // namespace

void showMessageBox(const std::string& title, const std::string& text, bool topmost) {
  box(title, text, MB_OK | MB_ICONINFORMATION, topmost);
}

bool askYesNoBox(const std::string& question, bool topmost) {
  return box(kProgramName, question, MB_YESNO | MB_ICONQUESTION, topmost) == IDYES;
}

}  // namespace ovix::win32
