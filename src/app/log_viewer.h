// Reading a log file for display, and the error-output object that shows a
// log in the read-only text viewer.

#ifndef OVIX_APP_LOG_VIEWER_H_
#define OVIX_APP_LOG_VIEWER_H_

#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/error_output.h"

namespace ovix {

// Title of the log viewer.
inline constexpr char kLogViewerTitle[] = "日志记录";

// Reads a text file as fgets would in pieces of at most 1023 characters: each
// entry is one line with its line feed, or the first 1023 characters of a
// longer line.  A file that cannot be opened shows "不能读取文件" and gives
// an empty list.
std::vector<std::string> readTextLines(Env& env, const std::string& path);

// Joins lines for the viewer, each followed by "\r\n"; a line's own line
// feed (and a carriage return before it) is dropped, so every entry of
// readTextLines is one line on screen.
std::string joinLogLines(const std::vector<std::string>& lines);

// Shows the log file `path` read-only under kLogViewerTitle and waits until
// the viewer is closed.  Always true.
bool showLogFileInViewer(Env& env, char const* path);

// Starts a command line without waiting for it; the result is not examined.
void runCommand(Env& env, const std::string& commandLine);

}  // namespace ovix

// The program's error output, created once before start-up.
class ovix_print_logfile : public zdcom::OVIXCommandErrorOutput {
 public:
  explicit ovix_print_logfile(ovix::Env* env = ovix::Env::Default()) : env_(env) {}

  int setStatus(int value) override { return m_status = value; }
  int getStatus() override { return m_status; }
  void resetStatus() override { m_status = 0; }
  bool queryFlag() const override { return false; }
  bool showLogFile(char const* path) override;

  int m_status = 0;

 private:
  ovix::Env* env_;
};

#endif  // OVIX_APP_LOG_VIEWER_H_
