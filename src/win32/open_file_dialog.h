// The system's file-open dialog.

#ifndef OVIX_WIN32_OPEN_FILE_DIALOG_H_
#define OVIX_WIN32_OPEN_FILE_DIALOG_H_

#include <windows.h>

#include <string>

namespace ovix::win32 {

// Lets the user pick an existing INI file ("*.INI"), starting in
// `initialDirectory`; true with its path in UTF-8 when one was chosen,
// false when the user cancelled or the dialog failed.
bool chooseFileToOpen(HWND owner, const std::string& title, const std::string& initialDirectory,
                      std::string* path);

}  // namespace ovix::win32

#endif  // OVIX_WIN32_OPEN_FILE_DIALOG_H_
