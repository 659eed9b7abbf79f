#include "win32/dialog_text.h"

#include "platform/utf16_windows.h"

namespace ovix::win32 {

std::string itemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  if (item == nullptr) return {};
  // The length may count more than GetWindowTextW copies (it is an upper
  // bound for texts the control converts), never less.
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
  int copied = GetWindowTextW(item, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return narrow(text);
}

void setItemText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextW(dialog, id, widen(text).c_str());
}

void setWindowText(HWND window, const std::string& text) {
  SetWindowTextW(window, widen(text).c_str());
}

}  // namespace ovix::win32
