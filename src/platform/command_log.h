// The command log: a file of time-stamped lines that records file-level
// problems of a pack, upload or download job for the user to read later.

#ifndef OVIX_PLATFORM_COMMAND_LOG_H_
#define OVIX_PLATFORM_COMMAND_LOG_H_

#include <string>

#include "platform/env.h"
#include "platform/messages.h"

namespace zdcom {

// While an OVIXCommandLog lives, errorlog appends to its file; logs nest and
// the newest one receives the lines.  The file is appended to, never
// emptied, so the lines of earlier jobs stay readable.
class OVIXCommandLog {
 public:
  explicit OVIXCommandLog(char const* path, ovix::Env* env = ovix::Env::Default());
  ~OVIXCommandLog();
  OVIXCommandLog(const OVIXCommandLog&) = delete;
  OVIXCommandLog& operator=(const OVIXCommandLog&) = delete;

  // Appends "[YYYY-MM-DD HH:MM:SS] text" to the active log.  Returns the
  // number of lines this log has received, or 0 when no log is active or the
  // line could not be written.
  static int errorlog(char const* format, ...) OVIX_PRINTF_FORMAT(1, 2);

  const std::string& path() const { return path_; }
  int lineCount() const { return lines_; }

 private:
  bool append(const std::string& text);

  std::string path_;
  ovix::Env* env_;
  int lines_ = 0;
  OVIXCommandLog* previous_;
};

}  // namespace zdcom

#endif  // OVIX_PLATFORM_COMMAND_LOG_H_
