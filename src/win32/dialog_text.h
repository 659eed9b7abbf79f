// Control texts of a dialog in the program's UTF-8, over the wide-character
// Win32 calls.

#ifndef OVIX_WIN32_DIALOG_TEXT_H_
#define OVIX_WIN32_DIALOG_TEXT_H_

#include <windows.h>

#include <string>

namespace ovix::win32 {

// The whole text of control `id` of `dialog`, any length; "" when there is
// no such control.  For a drop-down combo box, the text of its edit.
std::string itemText(HWND dialog, int id);

// Sets the text of control `id` from UTF-8.
void setItemText(HWND dialog, int id, const std::string& text);

// The window's own text (a dialog's title) from UTF-8.
void setWindowText(HWND window, const std::string& text);

}  // namespace ovix::win32

#endif  // OVIX_WIN32_DIALOG_TEXT_H_
