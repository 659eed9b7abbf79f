#include "platform/command_log.h"
#include "platform/time_string.h"

#include <cstdarg>
#include <ctime>

namespace zdcom {
namespace {

OVIXCommandLog*& activeLog() {
  static OVIXCommandLog* log = nullptr;
  return log;
}

}  // namespace

OVIXCommandLog::OVIXCommandLog(char const* path, ovix::Env* env)
    : path_(path != nullptr ? path : ""), env_(env), previous_(activeLog()) {
  activeLog() = this;
}

OVIXCommandLog::~OVIXCommandLog() { activeLog() = previous_; }

bool OVIXCommandLog::append(const std::string& text) {
  if (path_.empty()) return false;
  std::time_t now = env_->now();
  std::tm local{};
  ovix::toLocalTime(now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S] ", &local);
  std::string line = stamp + text + "\n";
  std::unique_ptr<ovix::WritableFile> file;
  if (!env_->newWritableFile(path_, ovix::WriteMode::kAppend, &file)) return false;
  bool ok = file->append(line.data(), line.size());
  return file->close() && ok;
}

int OVIXCommandLog::errorlog(char const* fmt, ...) {
  OVIXCommandLog* log = activeLog();
  if (log == nullptr || fmt == nullptr) return 0;
  va_list args;
  va_start(args, fmt);
  std::string text = formatV(fmt, args);
  va_end(args);
  if (!log->append(text)) return 0;
  return ++log->lines_;
}

}  // namespace zdcom
