// An Env for tests that fails chosen calls: the Nth file opened for writing,
// every write once a byte budget is spent (a full disk), renames, files and
// folders made in read-only directories; or a fixed clock, executable path
// and environment variables.

#ifndef OVIX_TESTING_FAULT_ENV_H_
#define OVIX_TESTING_FAULT_ENV_H_

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/env.h"

namespace ovix::testing {

class FaultEnv : public EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(Env::Default()) {}

  // Faults; all off by default.
  bool failRename = false;
  int failOpenForWriteAt = -1;          // 0 = the first open for writing fails
  std::optional<size_t> diskSpaceLeft;  // bytes that can still be written
  std::optional<std::time_t> clock;
  std::optional<std::string> exePath;
  // Directories in which nothing can be created (even by root).
  std::set<std::string> readOnlyDirs;
  // Environment variables as the program sees them; nullopt is unset.
  // Variables not named here are the real ones.
  std::map<std::string, std::optional<std::string>> variables;

  int writeOpens = 0;

  bool newWritableFile(const std::string& path, WriteMode mode,
                       std::unique_ptr<WritableFile>* result) override {
    result->reset();
    if (inReadOnlyDir(path)) return false;
    if (writeOpens++ == failOpenForWriteAt) {
      setLastError("open " + path + ": injected fault");
      return false;
    }
    std::unique_ptr<WritableFile> real;
    if (!EnvWrapper::newWritableFile(path, mode, &real)) return false;
    *result = std::make_unique<LimitedFile>(std::move(real), this);
    return true;
  }

  bool renameFile(const std::string& from, const std::string& to) override {
    if (failRename) {
      setLastError("rename " + from + ": injected fault");
      return false;
    }
    return EnvWrapper::renameFile(from, to);
  }

  bool createDir(const std::string& path) override {
    if (inReadOnlyDir(path)) {
      setLastError("mkdir " + path + ": Permission denied (injected)");
      return false;
    }
    return EnvWrapper::createDir(path);
  }

  std::optional<std::string> getEnv(const std::string& name) override {
    auto it = variables.find(name);
    return it != variables.end() ? it->second : EnvWrapper::getEnv(name);
  }

  std::time_t now() override { return clock ? *clock : EnvWrapper::now(); }
  std::string executablePath() override {
    return exePath ? *exePath : EnvWrapper::executablePath();
  }

 private:
  bool inReadOnlyDir(const std::string& path) const {
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos || !readOnlyDirs.contains(path.substr(0, cut))) return false;
    setLastError("open " + path + ": Permission denied (injected)");
    return true;
  }

  class LimitedFile : public WritableFile {
   public:
    LimitedFile(std::unique_ptr<WritableFile> real, FaultEnv* env)
        : real_(std::move(real)), env_(env) {}
    bool append(const char* data, size_t n) override {
      if (!env_->diskSpaceLeft) return real_->append(data, n);
      size_t room = std::min(n, *env_->diskSpaceLeft);
      *env_->diskSpaceLeft -= room;
      if (room > 0 && !real_->append(data, room)) return false;
      if (room == n) return true;
      setLastError("write: No space left on device (injected)");
      return false;
    }
    bool sync() override { return real_->sync(); }
    bool close() override { return real_->close(); }

   private:
    std::unique_ptr<WritableFile> real_;
    FaultEnv* env_;
  };
};

}  // namespace ovix::testing

#endif  // OVIX_TESTING_FAULT_ENV_H_
