// Operating-system access for the whole program.
//
// Every file, directory, clock, process and environment call of the core goes
// through an Env, so tests can hand the code an EnvWrapper that makes one call
// fail (a write that fails, a rename that fails, a full disk) and check that
// nothing is lost.  Env::Default() is the one real implementation.
//
// Paths given to an Env are native paths ('/'-separated on Linux).  Results
// are bool; on failure the reason is readable through lastError().

#ifndef OVIX_PLATFORM_ENV_H_
#define OVIX_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_tree.h"

namespace ovix {

// A file opened for reading, front to back.
class SequentialFile {
 public:
  virtual ~SequentialFile() = default;
  // Reads up to n bytes into buf and stores the count in *got; *got is 0 at
  // the end of the file.  Returns false on a read error (*got is then 0).
  virtual bool read(char* buf, size_t n, size_t* got) = 0;
  // Size in bytes of the open file; nullopt when it cannot be told.
  virtual std::optional<uint64_t> size() { return std::nullopt; }
};

// A file opened for writing.  Destroying it closes it without syncing.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Appends n bytes; false when not all of them could be written.
  virtual bool append(const char* data, size_t n) = 0;
  // Flushes the data to the kernel and then to stable storage.
  virtual bool sync() = 0;
  // Closes the file; false when a buffered write failed.
  virtual bool close() = 0;
};

struct DirEntry {
  std::string name;          // base name, never "." or ".."
  bool isDirectory = false;  // a directory itself, not a link to one
  bool isFile = false;       // a regular file, or a link to one
  bool isLink = false;       // a symbolic link, whatever it points to
};

// How newWritableFile opens a file; kCreateNew makes one that must not
// exist yet.  In every mode a link at the path makes the open fail instead
// of being followed.
enum class WriteMode { kTruncate, kAppend, kCreateNew };

// A running process as listProcesses reports it.
struct ProcessInfo {
  int pid;
  std::string exeName;  // base name of the program file
};

class Env {
 public:
  virtual ~Env() = default;

  // The real operating system.  Never null, never destroyed.
  static Env* Default();

  // Text of the last failure of a call on this thread, e.g.
  // "open /x/y: No such file or directory".
  static const std::string& lastError();

  // --- files -------------------------------------------------------------
  // On failure *result is reset and false returned.
  virtual bool newSequentialFile(const std::string& path,
                                 std::unique_ptr<SequentialFile>* result) = 0;
  virtual bool newWritableFile(const std::string& path, WriteMode mode,
                               std::unique_ptr<WritableFile>* result) = 0;
  virtual bool fileExists(const std::string& path) = 0;
  virtual bool isDirectory(const std::string& path) = 0;
  // Size in bytes of a regular file; nullopt when it cannot be read.
  virtual std::optional<uint64_t> fileSize(const std::string& path) = 0;
  virtual bool removeFile(const std::string& path) = 0;
  // Replaces `to` atomically when it exists.
  virtual bool renameFile(const std::string& from, const std::string& to) = 0;
  // Flushes a file's or a directory's contents to stable storage.
  virtual bool syncPath(const std::string& path) = 0;
  // Creates one directory; an existing directory counts as success.
  virtual bool createDir(const std::string& path) = 0;
  // Entries of a directory in the order the system returns them, without
  // "." and "..".  False when the directory cannot be read.
  virtual bool listDirectory(const std::string& path,
                             std::vector<DirEntry>* entries) = 0;
  // The tree below the directory `root`, written without following links
  // below it (see directory_tree.h).  False when `root` is no directory.
  virtual bool openTree(const std::string& root, std::unique_ptr<DirectoryTree>* result) = 0;
  // The path with every link resolved; false when it does not exist.
  virtual bool realPath(const std::string& path, std::string* resolved) = 0;

  // --- time --------------------------------------------------------------
  virtual std::time_t now() = 0;
  // Returns after about `milliseconds` have passed.
  virtual void sleepMilliseconds(int milliseconds) = 0;

  // --- process and environment ---------------------------------------------
  // Full path of the running program, empty when it cannot be found.
  virtual std::string executablePath() = 0;
  // "process PID on HOST": this process as others are told of it.
  virtual std::string processDescription() = 0;
  // Value of an environment variable; nullopt when unset.
  virtual std::optional<std::string> getEnv(const std::string& name) = 0;
  // Starts a shell command line in a new session without waiting for it.
  virtual bool spawnDetached(const std::string& commandLine) = 0;

  // --- processes -----------------------------------------------------------
  // The running processes in the order the system lists them, each named by
  // the base name of its program file, or of its argv[0] when that file
  // cannot be read.  Processes without any readable name are left out.
  // False when the list cannot be read.
  virtual bool listProcesses(std::vector<ProcessInfo>* out) = 0;
  // Ends process `pid` at once (SIGKILL) without waiting for it.  False when
  // it cannot be signalled; a pid below 1 is refused.
  virtual bool terminateProcess(int pid) = 0;
  // Starts the program file `path`, without arguments, in a session of its
  // own and without waiting for it.  False when it cannot be started;
  // *errorCode then holds the system's code of the failure (errno on
  // Linux, GetLastError() on Windows).
  virtual bool spawnProgram(const std::string& path, int* errorCode) = 0;
};

// Forwards every call to another Env; a test overrides only the call it
// wants to break.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  bool newSequentialFile(const std::string& path,
                         std::unique_ptr<SequentialFile>* result) override {
    return target_->newSequentialFile(path, result);
  }
  bool newWritableFile(const std::string& path, WriteMode mode,
                       std::unique_ptr<WritableFile>* result) override {
    return target_->newWritableFile(path, mode, result);
  }
  bool fileExists(const std::string& path) override {
    return target_->fileExists(path);
  }
  bool isDirectory(const std::string& path) override {
    return target_->isDirectory(path);
  }
  std::optional<uint64_t> fileSize(const std::string& path) override {
    return target_->fileSize(path);
  }
  bool removeFile(const std::string& path) override {
    return target_->removeFile(path);
  }
  bool renameFile(const std::string& from, const std::string& to) override {
    return target_->renameFile(from, to);
  }
  bool syncPath(const std::string& path) override { return target_->syncPath(path); }
  bool createDir(const std::string& path) override {
    return target_->createDir(path);
  }
  bool listDirectory(const std::string& path,
                     std::vector<DirEntry>* entries) override {
    return target_->listDirectory(path, entries);
  }
  bool openTree(const std::string& root, std::unique_ptr<DirectoryTree>* result) override {
    return target_->openTree(root, result);
  }
  bool realPath(const std::string& path, std::string* resolved) override {
    return target_->realPath(path, resolved);
  }
  std::time_t now() override { return target_->now(); }
  void sleepMilliseconds(int milliseconds) override { target_->sleepMilliseconds(milliseconds); }
  std::string executablePath() override { return target_->executablePath(); }
  std::optional<std::string> getEnv(const std::string& name) override {
    return target_->getEnv(name);
  }
  std::string processDescription() override { return target_->processDescription(); }
  bool spawnDetached(const std::string& commandLine) override {
    return target_->spawnDetached(commandLine);
  }
  bool listProcesses(std::vector<ProcessInfo>* out) override {
    return target_->listProcesses(out);
  }
  bool terminateProcess(int pid) override { return target_->terminateProcess(pid); }
  bool spawnProgram(const std::string& path, int* errorCode) override {
    return target_->spawnProgram(path, errorCode);
  }

 private:
  Env* target_;
};

// Records the reason of a failure for Env::lastError(); used by Env
// implementations, including test wrappers.
void setLastError(std::string text);

// Reads a whole file into *contents.  False when it cannot be opened or read.
bool readFileToString(Env& env, const std::string& path, std::string* contents);

// Writes `contents` to `path` so that a reader sees the old file or the new
// one, never a torn one: a temporary file of a fresh name beside it is
// created (never through a link), written, synced and renamed over the
// target; the temporary is removed on failure.
bool writeFileAtomically(Env& env, const std::string& path,
                         const std::string& contents);

// A short random text (".<hex>") that makes temporary names unlikely to
// meet: unique within the process, random between processes.
std::string uniqueSuffix();

}  // namespace ovix

#endif  // OVIX_PLATFORM_ENV_H_
