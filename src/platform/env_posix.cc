// The real Env on POSIX systems.

#include "platform/env.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "platform/posix_file.h"
#include "platform/unique_fd.h"

namespace ovix {

bool failWithErrno(const char* what, const std::string& path) {
  setLastError(std::string(what) + " " + path + ": " + std::strerror(errno));
  return false;
}

namespace {

thread_local std::string tlsLastError;

bool fail(const char* what, const std::string& path) { return failWithErrno(what, path); }

class PosixSequentialFile final : public SequentialFile {
 public:
  PosixSequentialFile(std::string path, UniqueFd fd)
      : path_(std::move(path)), fd_(std::move(fd)) {}

  bool read(char* buf, size_t n, size_t* got) override {
    *got = 0;
    for (;;) {
      ssize_t r = ::read(fd_.get(), buf, n);
      if (r >= 0) {
        *got = static_cast<size_t>(r);
        return true;
      }
      if (errno != EINTR) return fail("read", path_);
    }
  }

  std::optional<uint64_t> size() override {
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }

 private:
  std::string path_;
  UniqueFd fd_;
};

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(std::string path, UniqueFd fd)
      : path_(std::move(path)), fd_(std::move(fd)) {}

  bool append(const char* data, size_t n) override {
    while (n > 0) {
      ssize_t w = ::write(fd_.get(), data, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        return fail("write", path_);
      }
      data += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }

  bool sync() override {
    if (::fdatasync(fd_.get()) != 0) return fail("sync", path_);
    return true;
  }

  bool close() override {
    if (!fd_.valid()) return true;
    if (!fd_.reset()) return fail("close", path_);
    return true;
  }

 private:
  std::string path_;
  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<SequentialFile> makePosixSequentialFile(std::string path, UniqueFd fd) {
  return std::make_unique<PosixSequentialFile>(std::move(path), std::move(fd));
}

std::unique_ptr<WritableFile> makePosixWritableFile(std::string path, UniqueFd fd) {
  return std::make_unique<PosixWritableFile>(std::move(path), std::move(fd));
}

namespace {

// The text after the last '/'.
std::string afterLastSlash(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isAllDigits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// argv[0] of the process whose /proc directory is `procDir`; "" when it
// cannot be read (kernel threads and zombies have none).
std::string firstArgument(const std::string& procDir) {
  UniqueFd fd(::open((procDir + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return {};
  std::string arg;
  char buf[1024];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return arg;
    const void* nul = std::memchr(buf, '\0', static_cast<size_t>(n));
    if (nul != nullptr) return arg.append(buf, static_cast<const char*>(nul) - buf);
    arg.append(buf, static_cast<size_t>(n));
  }
}

// Name of the process whose /proc directory is `procDir`: the base name of
// its program file without " (deleted)", else of its argv[0].
std::string processName(const std::string& procDir) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink((procDir + "/exe").c_str(), buf, sizeof buf - 1);
  if (n > 0) {
    std::string_view target(buf, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.ends_with(kDeleted)) target.remove_suffix(kDeleted.size());
    return afterLastSlash(target);
  }
  return afterLastSlash(firstArgument(procDir));
}

// Runs in the forked child: starts `path` in a new session from a second
// child and leaves at once, so the program is never our zombie.  An exec
// failure's errno goes to `errorFd` (closed on a successful exec).  Only
// async-signal-safe calls are made here.
[[noreturn]] void execDetached(const char* path, int errorFd) {
  pid_t grandchild = ::fork();
  if (grandchild > 0) ::_exit(0);
  if (grandchild == 0) {
    ::setsid();
    char* const argv[] = {const_cast<char*>(path), nullptr};
    ::execv(path, argv);
  }
  int err = errno;  // of the failed fork or exec
  ssize_t ignored = ::write(errorFd, &err, sizeof err);
  (void)ignored;
  ::_exit(127);
}

class PosixEnv final : public Env {
 public:
  bool newSequentialFile(const std::string& path,
                         std::unique_ptr<SequentialFile>* result) override {
    result->reset();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return fail("open", path);
    *result = std::make_unique<PosixSequentialFile>(path, std::move(fd));
    return true;
  }

  bool newWritableFile(const std::string& path, WriteMode mode,
                       std::unique_ptr<WritableFile>* result) override {
    result->reset();
    // A link at the path is never written through: logs and working files
    // often lie in folders that others can write.
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    switch (mode) {
      case WriteMode::kTruncate:
        flags |= O_TRUNC;
        break;
      case WriteMode::kAppend:
        flags |= O_APPEND;
        break;
      case WriteMode::kCreateNew:
        flags |= O_EXCL;
        break;
    }
    UniqueFd fd(::open(path.c_str(), flags, 0644));
    if (!fd.valid()) return fail("open", path);
    *result = std::make_unique<PosixWritableFile>(path, std::move(fd));
    return true;
  }

  bool fileExists(const std::string& path) override {
    return ::access(path.c_str(), F_OK) == 0;
  }

  bool isDirectory(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  std::optional<uint64_t> fileSize(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      fail("stat", path);
      return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
  }

  bool removeFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return fail("remove", path);
    return true;
  }

  bool renameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return fail("rename", from);
    return true;
  }

  bool syncPath(const std::string& path) override {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return fail("open", path);
    if (::fsync(fd.get()) != 0) return fail("sync", path);
    return true;
  }

  bool createDir(const std::string& path) override {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    if (errno == EEXIST && isDirectory(path)) return true;
    return fail("mkdir", path);
  }

  bool listDirectory(const std::string& path,
                     std::vector<DirEntry>* entries) override {
    entries->clear();
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return fail("opendir", path);
    while (struct dirent* e = ::readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
        continue;
      DirEntry entry;
      entry.name = e->d_name;
      std::string full = path + "/" + e->d_name;
      struct stat st;
      if (e->d_type == DT_DIR) {
        entry.isDirectory = true;
      } else if (e->d_type == DT_REG) {
        entry.isFile = true;
      } else if (e->d_type == DT_UNKNOWN) {
        // Some file systems do not fill d_type.  Links to directories are
        // not entered, so directories are told without following links.
        if (::lstat(full.c_str(), &st) == 0) {
          entry.isDirectory = S_ISDIR(st.st_mode);
          entry.isFile = S_ISREG(st.st_mode);
        }
      }
      if (e->d_type == DT_LNK) {
        entry.isLink = true;
      } else if (e->d_type == DT_UNKNOWN && ::lstat(full.c_str(), &st) == 0) {
        entry.isLink = S_ISLNK(st.st_mode);
      }
      if (entry.isLink) entry.isFile = ::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode);
      entries->push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
  }

  bool openTree(const std::string& root, std::unique_ptr<DirectoryTree>* result) override {
    return openPosixDirectoryTree(root, result);
  }

  bool realPath(const std::string& path, std::string* resolved) override {
    char* full = ::realpath(path.c_str(), nullptr);
    if (full == nullptr) return fail("realpath", path);
    *resolved = full;
    std::free(full);
    return true;
  }

  std::time_t now() override { return std::time(nullptr); }

  void sleepMilliseconds(int milliseconds) override {
    struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  std::string executablePath() override {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
  }

  std::string processDescription() override {
    char host[128] = {};
    ::gethostname(host, sizeof host - 1);
    return "process " + std::to_string(::getpid()) + " on " + host;
  }

  std::optional<std::string> getEnv(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  bool spawnDetached(const std::string& commandLine) override {
    // Fork twice so the command is reparented to init and never becomes our
    // zombie; setsid() puts it into a session of its own.
    pid_t child = ::fork();
    if (child < 0) return fail("fork", commandLine);
    if (child == 0) {
      if (::fork() == 0) {
        ::setsid();
        ::execl("/bin/sh", "sh", "-c", commandLine.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
      }
      ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
  }

  bool listProcesses(std::vector<ProcessInfo>* out) override {
    out->clear();
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return fail("opendir", "/proc");
    while (struct dirent* e = ::readdir(dir)) {
      if (!isAllDigits(e->d_name)) continue;
      std::string name = processName(std::string("/proc/") + e->d_name);
      if (name.empty()) continue;
      out->push_back({std::atoi(e->d_name), std::move(name)});
    }
    ::closedir(dir);
    return true;
  }

  bool terminateProcess(int pid) override {
    if (pid < 1) {
      setLastError("kill " + std::to_string(pid) + ": not a single process");
      return false;
    }
    if (::kill(pid, SIGKILL) != 0) return fail("kill", std::to_string(pid));
    return true;
  }

  bool spawnProgram(const std::string& path, int* errorCode) override {
    *errorCode = 0;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return failWithCode("pipe", path, errorCode);
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    pid_t child = ::fork();
    if (child < 0) return failWithCode("fork", path, errorCode);
    if (child == 0) execDetached(path.c_str(), writeEnd.get());
    writeEnd.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    while ((n = ::read(readEnd.get(), &err, sizeof err)) < 0 && errno == EINTR) {
    }
    if (n != static_cast<ssize_t>(sizeof err)) return true;  // exec closed the pipe
    errno = err;
    return failWithCode("exec", path, errorCode);
  }

 private:
  static bool failWithCode(const char* what, const std::string& path, int* errorCode) {
    *errorCode = errno;
    return fail(what, path);
  }
};

}  // namespace

void setLastError(std::string text) { tlsLastError = std::move(text); }

const std::string& Env::lastError() { return tlsLastError; }

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: used until exit
  return env;
}

}  // namespace ovix
