// File helpers built only on the Env interface, so they inherit its faults.

#include "platform/env.h"

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

bool writeFileAtomically(Env& env, const std::string& path,
                         const std::string& contents) {
  const std::string temp = path + ".tmp";
  std::unique_ptr<WritableFile> file;
  if (!env.newWritableFile(temp, WriteMode::kTruncate, &file)) return false;
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
