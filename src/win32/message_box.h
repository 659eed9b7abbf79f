// The program's message boxes.

#ifndef OVIX_WIN32_MESSAGE_BOX_H_
#define OVIX_WIN32_MESSAGE_BOX_H_

#include <string>

namespace ovix::win32 {

// The title of boxes that have none of their own.
inline constexpr char kProgramName[] = "OvixServerCommit";

// Shows `text` under `title` with an OK button and returns when it is
// dismissed.  An ordinary box belongs to the thread's active window (the
// open dialog); a topmost one to no window and stays above all others.
void showMessageBox(const std::string& title, const std::string& text, bool topmost);

// Asks `question` with Yes and No; true for Yes.  Owned as above.
bool askYesNoBox(const std::string& question, bool topmost);

}  // namespace ovix::win32

#endif  // OVIX_WIN32_MESSAGE_BOX_H_
