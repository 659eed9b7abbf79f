// File helpers built only on the Env interface, so they inherit its faults.

#include "platform/env.h"

#include <atomic>
#include <cstdio>
#include <random>

namespace ovix {

bool readFileToString(Env& env, const std::string& path, std::string* contents) {
  contents->clear();
  std::unique_ptr<SequentialFile> file;
  if (!env.newSequentialFile(path, &file)) return false;
  char buf[64 * 1024];
  for (;;) {
    size_t got = 0;
    if (!file->read(buf, sizeof buf, &got)) return false;
    if (got == 0) return true;
    contents->append(buf, got);
  }
}

std::string uniqueSuffix() {
  static std::atomic<uint32_t> counter{0};
  static const uint64_t seed = std::random_device{}();
  char text[32];
  std::snprintf(text, sizeof text, ".%08llx%04x",
                static_cast<unsigned long long>(seed & 0xFFFFFFFFu),
                static_cast<unsigned>(counter++ & 0xFFFF));
  return text;
}

bool writeFileAtomically(Env& env, const std::string& path,
                         const std::string& contents) {
  // A fresh name created exclusively: whatever someone put at a fixed
  // temporary name (a link above all) is never written through.
  const std::string temp = path + uniqueSuffix() + ".tmp";
  std::unique_ptr<WritableFile> file;
  if (!env.newWritableFile(temp, WriteMode::kCreateNew, &file)) return false;
  bool ok = file->append(contents.data(), contents.size()) && file->sync();
  ok = file->close() && ok;
  file.reset();
  if (ok) ok = env.renameFile(temp, path);
  if (!ok) {
    std::string reason = Env::lastError();
    env.removeFile(temp);
    setLastError(std::move(reason));
  }
  return ok;
}

}  // namespace ovix
