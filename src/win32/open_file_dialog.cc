#include "win32/open_file_dialog.h"

#include <commdlg.h>

#include <algorithm>

#include "platform/utf16_windows.h"

namespace ovix::win32 {

bool chooseFileToOpen(HWND owner, const std::string& title, const std::string& initialDirectory,
                      std::string* path) {
  // Pairs of description and patterns, the list ended by an empty one.
  static const wchar_t kFilter[] = L"INI Files (*.INI *.ini)\0*.INI;*.ini\0";
  std::wstring directory = widen(initialDirectory);
  std::replace(directory.begin(), directory.end(), L'/', L'\\');
  std::wstring caption = widen(title);
  // The longest path Windows has.
  std::wstring chosen(32768, L'\0');

  OPENFILENAMEW request = {};
  request.lStructSize = sizeof request;
  request.hwndOwner = owner;
  request.lpstrFilter = kFilter;
  request.lpstrFile = chosen.data();
  request.nMaxFile = static_cast<DWORD>(chosen.size());
  request.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  request.lpstrTitle = caption.c_str();
  request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
                  OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&request)) return false;
  chosen.resize(chosen.find(L'\0'));
  *path = narrow(chosen);
  return true;
}

}  // namespace ovix::win32
