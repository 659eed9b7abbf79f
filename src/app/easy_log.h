// The run log: a plain-text file that every run writes one line at a time,
// each line closed by a tab and a bracketed time stamp.

#ifndef OVIX_APP_EASY_LOG_H_
#define OVIX_APP_EASY_LOG_H_

#include <string>

#include "platform/env.h"
#include "platform/messages.h"

namespace zedalog {

class EasyLog {
 public:
  // A null path leaves the log off (empty path, clear flag false).
  EasyLog(char const* path, bool clearFirst, ovix::Env* env = ovix::Env::Default());
  EasyLog() : EasyLog(nullptr, false) {}
  virtual ~EasyLog() = default;

  EasyLog(const EasyLog&) = default;
  EasyLog& operator=(const EasyLog&) = default;

  std::string m_path;         // empty: the log is off
  bool m_clearFirst = false;  // empty the file before the next line
  ovix::Env* env() const { return env_; }

 private:
  ovix::Env* env_;
};

}  // namespace zedalog

namespace ovix {

// Writes one line: the formatted message, "\t[%Y.%m.%d %X %A]" in local time,
// and a line feed.  The first line after construction with clearFirst empties
// the file.  A log that is off, or a file that cannot be opened, writes
// nothing and reports nothing.  The file is closed again after each line.
void print(zedalog::EasyLog& log, char const* format, ...) OVIX_PRINTF_FORMAT(2, 3);

// The application's run log ("temp\autoPatchLog.txt" below the installation
// root once start-up has opened it; off before).
extern zedalog::EasyLog runLog;

}  // namespace ovix

#endif  // OVIX_APP_EASY_LOG_H_
