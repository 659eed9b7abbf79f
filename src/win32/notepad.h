// Opens a text file in Notepad.

#ifndef OVIX_WIN32_NOTEPAD_H_
#define OVIX_WIN32_NOTEPAD_H_

#include <string>

namespace ovix::win32 {

// Starts "notepad.exe <path>" (the path quoted, '/' turned into '\') and
// does not wait for it.  False when the process could not be started.
bool openInNotepad(const std::string& path);

}  // namespace ovix::win32

#endif  // OVIX_WIN32_NOTEPAD_H_
