#include "app/easy_log.h"

#include <cstdarg>

#include "platform/time_string.h"

namespace zedalog {

EasyLog::EasyLog(char const* path, bool clearFirst, ovix::Env* env)
    : m_path(path != nullptr ? path : ""),
      m_clearFirst(path != nullptr && clearFirst),
      env_(env) {}

}  // namespace zedalog

namespace ovix {

zedalog::EasyLog runLog;

void print(zedalog::EasyLog& log, char const* fmt, ...) {
  if (log.m_path.empty()) return;
  Env& env = *log.env();
  std::unique_ptr<WritableFile> file;
  if (log.m_clearFirst) {
    if (!env.newWritableFile(log.m_path, WriteMode::kTruncate, &file)) return;
    file->close();
    log.m_clearFirst = false;
  }

  std::string stamp = formatLocalTime(env.now(), "\t[%Y.%m.%d %X %A]");
  if (stamp.size() > 64) stamp.resize(64);

  va_list args;
  va_start(args, fmt);
  std::string line = zdcom::formatV(fmt, args);
  va_end(args);
  line += stamp;
  line += '\n';

  if (!env.newWritableFile(log.m_path, WriteMode::kAppend, &file)) return;
  file->append(line.data(), line.size());
  file->close();
}

}  // namespace ovix
