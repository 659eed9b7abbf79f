// A directory tree written without following links below its root.
//
// An installation is written by a program that often runs with more rights
// than the people who can write into the installation.  A link placed
// below the root (a folder link "bin -> ../out", a file link at a file's
// place, a link at a temporary name) must never carry a write, a backup or
// a restore outside the tree.  A DirectoryTree walks every path below its
// root one component at a time and refuses a link on the way; the root
// itself may be a link.
//
// Paths given to a tree are relative, '/'-separated, without empty, "."
// or ".." components; anything else is refused.  Results are bool; the
// reason of a failure is readable through Env::lastError().

#ifndef OVIX_PLATFORM_DIRECTORY_TREE_H_
#define OVIX_PLATFORM_DIRECTORY_TREE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ovix {

class SequentialFile;
class WritableFile;

// What stands at a path, links not followed.
enum class EntryKind { kMissing, kFile, kDirectory, kLink, kOther };

// Held for the life of the object; released with it.  The lock file can
// carry a short text that tells others who holds it.
class TreeLock {
 public:
  virtual ~TreeLock() = default;
  // Replaces the lock file's text; false when it cannot be written.
  virtual bool setHolderText(const std::string& text) = 0;
};

enum class LockAttempt { kLocked, kBusy, kFailed };

class DirectoryTree {
 public:
  virtual ~DirectoryTree() = default;

  // What stands at `path`.  kLink also when a directory on the way is a
  // link; kMissing when the path or a directory on the way does not exist.
  // *size receives the size of a regular file.
  virtual EntryKind kind(const std::string& path, uint64_t* size = nullptr) = 0;

  // Opens the regular file `path` for reading; false for a link, a device
  // or a pipe at `path` or a link on the way.
  virtual bool openForReading(const std::string& path,
                              std::unique_ptr<SequentialFile>* result) = 0;

  // Creates the file `path`, which must not exist: whatever stands there,
  // a link included, makes it fail.
  virtual bool createFile(const std::string& path,
                          std::unique_ptr<WritableFile>* result) = 0;

  // Creates the directory `path` and the missing directories above it.
  // Every directory this call made is appended to *made (when given),
  // outermost first; a directory that exists already counts as success.
  virtual bool createDirectories(const std::string& path,
                                 std::vector<std::string>* made) = 0;

  // Renames `from` to `to`, replacing what stands at `to` (a link there is
  // replaced, not followed).
  virtual bool rename(const std::string& from, const std::string& to) = 0;

  // Makes `to` a second name of `from`; a link at `from` gives a link.
  virtual bool hardLink(const std::string& from, const std::string& to) = 0;

  // The target text of the link `path`.
  virtual bool readLink(const std::string& path, std::string* target) = 0;
  // Creates a link `path` whose target text is `target`.
  virtual bool createLink(const std::string& target, const std::string& path) = 0;

  // Removes a file or a link.
  virtual bool removeFile(const std::string& path) = 0;
  // Removes an empty directory.
  virtual bool removeDirectory(const std::string& path) = 0;
  // Removes `path` and everything below it without following links; a
  // missing path counts as success.
  virtual bool removeTree(const std::string& path) = 0;

  // The names in directory `path` ("" for the root), without "." and "..".
  virtual bool list(const std::string& path, std::vector<std::string>* names) = 0;

  // Flushes the directory `path` ("" for the root) to stable storage, so
  // that renames in it survive a crash.
  virtual bool syncDirectory(const std::string& path) = 0;
  // Flushes everything written on the tree's file system.
  virtual bool syncAll() = 0;

  // Tries once to take an exclusive lock on the file `path` (created when
  // missing, never through a link).  kBusy when another holder has it.
  virtual LockAttempt tryLock(const std::string& path,
                              std::unique_ptr<TreeLock>* lock) = 0;
};

// Forwards every call to another tree; a test overrides only what it
// wants to break or watch.
class DirectoryTreeWrapper : public DirectoryTree {
 public:
  explicit DirectoryTreeWrapper(std::unique_ptr<DirectoryTree> target)
      : target_(std::move(target)) {}

  EntryKind kind(const std::string& path, uint64_t* size) override {
    return target_->kind(path, size);
  }
  bool openForReading(const std::string& path,
                      std::unique_ptr<SequentialFile>* result) override {
    return target_->openForReading(path, result);
  }
  bool createFile(const std::string& path, std::unique_ptr<WritableFile>* result) override {
    return target_->createFile(path, result);
  }
  bool createDirectories(const std::string& path, std::vector<std::string>* made) override {
    return target_->createDirectories(path, made);
  }
  bool rename(const std::string& from, const std::string& to) override {
    return target_->rename(from, to);
  }
  bool hardLink(const std::string& from, const std::string& to) override {
    return target_->hardLink(from, to);
  }
  bool readLink(const std::string& path, std::string* target) override {
    return target_->readLink(path, target);
  }
  bool createLink(const std::string& target, const std::string& path) override {
    return target_->createLink(target, path);
  }
  bool removeFile(const std::string& path) override { return target_->removeFile(path); }
  bool removeDirectory(const std::string& path) override {
    return target_->removeDirectory(path);
  }
  bool removeTree(const std::string& path) override { return target_->removeTree(path); }
  bool list(const std::string& path, std::vector<std::string>* names) override {
    return target_->list(path, names);
  }
  bool syncDirectory(const std::string& path) override { return target_->syncDirectory(path); }
  bool syncAll() override { return target_->syncAll(); }
  LockAttempt tryLock(const std::string& path, std::unique_ptr<TreeLock>* lock) override {
    return target_->tryLock(path, lock);
  }

 private:
  std::unique_ptr<DirectoryTree> target_;
};

}  // namespace ovix

#endif  // OVIX_PLATFORM_DIRECTORY_TREE_H_
