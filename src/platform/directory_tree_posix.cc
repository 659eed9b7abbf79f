// The directory tree of the real Env on POSIX systems: every path below the
// root is walked with openat() and O_NOFOLLOW, one component at a time, so
// no link below the root is followed.  Directories already walked keep
// their descriptors, which makes the walk cost one call per file.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "platform/directory_tree.h"
#include "platform/env.h"
#include "platform/posix_file.h"
#include "platform/unique_fd.h"

namespace ovix {
namespace {

// Descriptors kept for directories already walked; more are closed at once.
constexpr size_t kMaxCachedDirectories = 256;

// Splits `path` into its directory part and its last name.
void splitLast(const std::string& path, std::string* directory, std::string* name) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    directory->clear();
    *name = path;
  } else {
    *directory = path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

// True when every component of `path` is a plain name.
bool isPlainRelativePath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    std::string part = path.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

class PosixLock final : public TreeLock {
 public:
  explicit PosixLock(UniqueFd fd) : fd_(std::move(fd)) {}
  ~PosixLock() override {
    // The text goes before the lock, so a waiter never reads a stale one.
    if (::ftruncate(fd_.get(), 0) != 0) {
      // Harmless: the next holder replaces it.
    }
  }

  bool setHolderText(const std::string& text) override {
    return ::ftruncate(fd_.get(), 0) == 0 &&
           ::pwrite(fd_.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
  }

 private:
  UniqueFd fd_;  // closing it releases the lock
};

class PosixDirectoryTree final : public DirectoryTree {
 public:
  PosixDirectoryTree(std::string rootPath, UniqueFd root)
      : rootPath_(std::move(rootPath)), root_(std::move(root)) {}

  EntryKind kind(const std::string& path, uint64_t* size) override {
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) {
      if (errno == ELOOP) return EntryKind::kLink;
      return errno == ENOTDIR ? EntryKind::kOther : EntryKind::kMissing;
    }
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::kMissing;
    if (S_ISLNK(st.st_mode)) return EntryKind::kLink;
    if (S_ISDIR(st.st_mode)) return EntryKind::kDirectory;
    if (!S_ISREG(st.st_mode)) return EntryKind::kOther;
    if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
    return EntryKind::kFile;
  }

  bool openForReading(const std::string& path,
                      std::unique_ptr<SequentialFile>* result) override {
    result->reset();
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) return fail("open", path);
    // O_NONBLOCK keeps a pipe put at the path from stalling the open.
    UniqueFd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return fail("open", path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return fail("stat", path);
    if (!S_ISREG(st.st_mode)) {
      errno = EINVAL;
      return fail("open (not a regular file)", path);
    }
    ::fcntl(fd.get(), F_SETFL, 0);
    *result = makePosixSequentialFile(full(path), std::move(fd));
    return true;
  }

  bool createFile(const std::string& path, std::unique_ptr<WritableFile>* result) override {
    result->reset();
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) return fail("create", path);
    UniqueFd fd(::openat(dir, name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) return fail("create", path);
    *result = makePosixWritableFile(full(path), std::move(fd));
    return true;
  }

  bool createDirectories(const std::string& path, std::vector<std::string>* made) override {
    trim();
    if (!isPlainRelativePath(path)) return refuse("mkdir", path);
    if (directoryFd(path, true, made) < 0) return fail("mkdir", path);
    return true;
  }

  bool rename(const std::string& from, const std::string& to) override {
    trim();
    int fromDir = -1, toDir = -1;
    std::string fromName, toName;
    if (!locate(from, false, &fromDir, &fromName, nullptr)) return fail("rename", from);
    if (!locate(to, false, &toDir, &toName, nullptr)) return fail("rename", to);
    if (::renameat(fromDir, fromName.c_str(), toDir, toName.c_str()) != 0)
      return fail("rename", from);
    forget(from);
    forget(to);
    return true;
  }

  bool hardLink(const std::string& from, const std::string& to) override {
    trim();
    int fromDir = -1, toDir = -1;
    std::string fromName, toName;
    if (!locate(from, false, &fromDir, &fromName, nullptr)) return fail("link", from);
    if (!locate(to, false, &toDir, &toName, nullptr)) return fail("link", to);
    // No AT_SYMLINK_FOLLOW: a link is linked as itself.
    if (::linkat(fromDir, fromName.c_str(), toDir, toName.c_str(), 0) != 0)
      return fail("link", from);
    return true;
  }

  bool readLink(const std::string& path, std::string* target) override {
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) return fail("readlink", path);
    std::string buf(4096, '\0');
    ssize_t n = ::readlinkat(dir, name.c_str(), buf.data(), buf.size());
    if (n < 0) return fail("readlink", path);
    buf.resize(static_cast<size_t>(n));
    *target = std::move(buf);
    return true;
  }

  bool createLink(const std::string& target, const std::string& path) override {
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) return fail("symlink", path);
    if (::symlinkat(target.c_str(), dir, name.c_str()) != 0) return fail("symlink", path);
    return true;
  }

  bool removeFile(const std::string& path) override {
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) return fail("remove", path);
    if (::unlinkat(dir, name.c_str(), 0) != 0) return fail("remove", path);
    return true;
  }

  bool removeDirectory(const std::string& path) override {
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) return fail("rmdir", path);
    forget(path);
    if (::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0) return fail("rmdir", path);
    return true;
  }

  bool removeTree(const std::string& path) override {
    trim();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) {
      if (errno == ENOENT) return true;
      return fail("remove", path);
    }
    forget(path);
    if (!removeBelow(dir, name)) return fail("remove", path);
    return true;
  }

  bool list(const std::string& path, std::vector<std::string>* names) override {
    trim();
    names->clear();
    int dir = path.empty() ? root_.get() : directoryFd(path, false, nullptr);
    if (dir < 0) return fail("opendir", path);
    return listFd(dir, names) || fail("opendir", path);
  }

  bool syncDirectory(const std::string& path) override {
    trim();
    int dir = path.empty() ? root_.get() : directoryFd(path, false, nullptr);
    if (dir < 0 || ::fsync(dir) != 0) return fail("sync", path);
    return true;
  }

  bool syncAll() override {
    if (::syncfs(root_.get()) != 0) return fail("sync", rootPath_);
    return true;
  }

  LockAttempt tryLock(const std::string& path, std::unique_ptr<TreeLock>* lock) override {
    trim();
    lock->reset();
    int dir = -1;
    std::string name;
    if (!locate(path, false, &dir, &name, nullptr)) {
      fail("lock", path);
      return LockAttempt::kFailed;
    }
    UniqueFd fd(::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) {
      fail("lock", path);
      return LockAttempt::kFailed;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) return LockAttempt::kBusy;
      fail("lock", path);
      return LockAttempt::kFailed;
    }
    *lock = std::make_unique<PosixLock>(std::move(fd));
    return LockAttempt::kLocked;
  }

 private:
  std::string full(const std::string& path) const { return rootPath_ + "/" + path; }

  bool fail(const char* what, const std::string& path) {
    if (errno == ELOOP) {
      setLastError(std::string(what) + " " + full(path) +
                   ": a symbolic link on the way is not followed");
      return false;
    }
    return failWithErrno(what, full(path));
  }

  bool refuse(const char* what, const std::string& path) {
    errno = EINVAL;
    return fail(what, path);
  }

  // Closes the kept descriptors once there are many.  Called only at the
  // start of an operation, never between two look-ups whose descriptors
  // are still in use.
  void trim() {
    if (directories_.size() >= kMaxCachedDirectories) directories_.clear();
  }

  // The parent directory of `path` as a descriptor and the last name; the
  // directories on the way are made when `create` is set.  False with
  // errno set when the path is not plain or a directory cannot be walked.
  bool locate(const std::string& path, bool create, int* dir, std::string* name,
              std::vector<std::string>* made) {
    if (!isPlainRelativePath(path)) {
      errno = EINVAL;
      return false;
    }
    std::string directory;
    splitLast(path, &directory, name);
    *dir = directory.empty() ? root_.get() : directoryFd(directory, create, made);
    return *dir >= 0;
  }

  // The descriptor of the directory `path` below the root, walked without
  // following links; -1 with errno set when it cannot be.
  int directoryFd(const std::string& path, bool create, std::vector<std::string>* made) {
    auto cached = directories_.find(path);
    if (cached != directories_.end()) return cached->second.get();
    std::string parentPath, name;
    splitLast(path, &parentPath, &name);
    int parent = parentPath.empty() ? root_.get() : directoryFd(parentPath, create, made);
    if (parent < 0) return -1;
    if (create) {
      if (::mkdirat(parent, name.c_str(), 0755) == 0) {
        if (made != nullptr) made->push_back(path);
      } else if (errno != EEXIST) {
        return -1;
      }
    }
    UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
      // With O_DIRECTORY a link gives ENOTDIR; tell it from a file.
      struct stat st;
      if (errno == ENOTDIR && ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode))
        errno = ELOOP;
      return -1;
    }
    int raw = fd.get();
    directories_.emplace(path, std::move(fd));
    return raw;
  }

  // Drops the kept descriptors of `path` and of everything below it.
  void forget(const std::string& path) {
    directories_.erase(path);
    const std::string below = path + "/";
    auto it = directories_.lower_bound(below);
    while (it != directories_.end() && it->first.compare(0, below.size(), below) == 0)
      it = directories_.erase(it);
  }

  static bool listFd(int dir, std::vector<std::string>* names) {
    int copy = ::dup(dir);
    if (copy < 0) return false;
    DIR* stream = ::fdopendir(copy);
    if (stream == nullptr) {
      ::close(copy);
      return false;
    }
    ::rewinddir(stream);
    while (struct dirent* e = ::readdir(stream)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names->push_back(e->d_name);
    }
    ::closedir(stream);
    return true;
  }

  // Removes `name` in `dir` with everything below it; links are removed as
  // links.
  static bool removeBelow(int dir, const std::string& name) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT;
    UniqueFd sub(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub.valid()) return false;
    std::vector<std::string> names;
    if (!listFd(sub.get(), &names)) return false;
    for (const std::string& entry : names) {
      if (!removeBelow(sub.get(), entry)) return false;
    }
    return ::unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
  }

  std::string rootPath_;
  UniqueFd root_;
  std::map<std::string, UniqueFd> directories_;
};

}  // namespace

bool openPosixDirectoryTree(const std::string& root, std::unique_ptr<DirectoryTree>* result) {
  result->reset();
  // The root itself may be a link: only what lies below it is walked
  // without following links.
  UniqueFd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return failWithErrno("opendir", root);
  *result = std::make_unique<PosixDirectoryTree>(root, std::move(fd));
  return true;
}

}  // namespace ovix
