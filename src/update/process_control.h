// Stopping the suite's running programs before an update and starting the
// design program again after it.
//
// The programs to stop are listed in the installation's kill list,
// "bin\v80-win32\patchkill.txt", one program file name per line.  Only the
// suite's own programs (kTerminableNames) are ended by this code; any other
// listed program that runs must be closed by the user.  Every step is
// written to the run log.

#ifndef OVIX_UPDATE_PROCESS_CONTROL_H_
#define OVIX_UPDATE_PROCESS_CONTROL_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace ovix {

// Installation-relative names of the kill list and the design program.
inline constexpr char kKillListName[] = "bin\\v80-win32\\patchkill.txt";
inline constexpr char kDesignProgramName[] = "bin/v80-win32/OvixDesign.exe";

// Program names that may be ended, compared as sameProgramName does.
inline constexpr char const* kTerminableNames[] = {"ovixdesign.exe", "zedads.exe",
                                                   "zedaprojman.exe"};

// The entries of the kill list in file order.  A line whose text, with
// blanks removed from both ends, begins with "#" is a comment; every other
// line is an entry: the line without its line end, blanks kept (an empty
// line gives an empty entry).  A missing or unreadable list shows
// "不能读取文件" and gives no entries.
std::vector<std::string> readKillList(Env& env);

// True when `a` and `b` name the same program: equal without regard to
// case, with or without a trailing ".exe" on either, since the kill list
// is written for systems whose program files end in ".exe".
bool sameProgramName(const std::string& a, const std::string& b);

// Id of the process whose program name is `name` (sameProgramName); the
// last one listed when several match; 0 when none does or the processes
// cannot be listed.
int findProcessId(Env& env, const std::string& name);

// Asks the user to let the suite's programs be closed, then, for each
// kill-list entry in order, ends the running process of that name when it
// is a terminable name (without waiting for it to go).  Returns false when
// the user declines, or at once when a listed program that may not be ended
// is running ("需要手动关闭所有<name>" is shown); true when the update may
// go on.
bool stopSuiteProcesses(Env& env);

// Starts the design program in a session of its own without waiting for
// it.  A failure is shown with its system text under the title "错误" and
// logged with its error code.
void restartDesignProgram(Env& env);

// The system's text for an error code of Env::spawnProgram.
std::string lastErrorText(int errorCode);

}  // namespace ovix

#endif  // OVIX_UPDATE_PROCESS_CONTROL_H_
