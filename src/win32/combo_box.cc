#include "win32/combo_box.h"

#include "platform/utf16_windows.h"

namespace ovix::win32 {

namespace {

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

}  // namespace

void replaceComboItems(HWND combo, const std::vector<std::string>& items) {
  // CB_RESETCONTENT empties the edit as well.
  std::wstring typed = windowText(combo);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& entry : items) {
    std::wstring wide = widen(entry);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
  SetWindowTextW(combo, typed.c_str());
}

std::vector<std::string> comboItems(HWND combo) {
  std::vector<std::string> out;
  for (int i = 0; i < comboCount(combo); ++i) {
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length == CB_ERR) continue;
    std::wstring entry(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                                  reinterpret_cast<LPARAM>(entry.data()));
    entry.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
    out.push_back(narrow(entry));
  }
  return out;
}

int comboCount(HWND combo) {
  LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  return count == CB_ERR ? 0 : static_cast<int>(count);
}

}  // namespace ovix::win32
