// The directory tree of the real Env on Windows.
//
// Every operation walks its path from the root one component at a time and
// holds each directory on the way open, checked to be a plain directory and
// not a reparse point (a junction, a symbolic link, a mount point: any of
// them counts as a link).  The held handles do not share delete access, so
// while the operation runs no directory on the way can be renamed, removed
// or replaced by a link.  The last component is opened with
// FILE_FLAG_OPEN_REPARSE_POINT and refused when it is a reparse point.
//
// One race stays open: someone who may write a directory on the way can
// turn it, while it is empty, into a junction in place.  Only a file
// created or renamed into that very directory during that operation can
// then land elsewhere.

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/directory_tree.h"
#include "platform/env.h"
#include "platform/utf16_windows.h"
#include "platform/win32_util_windows.h"

namespace ovix {
namespace {

bool isPlainComponent(const std::string& part) {
  // ':' would name an alternate data stream or a drive, '\' another folder.
  return !part.empty() && part != "." && part != ".." &&
         part.find_first_of(std::string("\\:\0", 3)) == std::string::npos;
}

// The '/'-separated components of `path`; empty when one is not plain.
std::vector<std::string> plainComponents(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('/', start);
    std::string part = path.substr(start, end == std::string::npos ? end : end - start);
    if (!isPlainComponent(part)) return {};
    parts.push_back(std::move(part));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// `dir` and `name` joined by one '\'; a drive's root ends in one already.
std::wstring joinWide(const std::wstring& dir, const std::string& name) {
  return dir + (dir.ends_with(L'\\') ? L"" : L"\\") + widen(name);
}

bool isNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Opens the directory `dir` without following a link at it and without
// sharing delete access; false with the reason as the thread's last Win32
// error when it is missing, no directory or a reparse point.
bool holdDirectory(const std::wstring& dir, UniqueHandle* held) {
  *held = UniqueHandle(CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
  if (!held->valid()) return false;
  DWORD attributes = handleAttributes(held->get());
  DWORD error = ERROR_SUCCESS;
  if (attributes == INVALID_FILE_ATTRIBUTES) error = GetLastError();
  else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) error = kErrorLinkNotFollowed;
  else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) error = ERROR_DIRECTORY;
  if (error == ERROR_SUCCESS) return true;
  held->reset();
  SetLastError(error);
  return false;
}

// The directories of one path, held open while an operation uses them.
struct Walk {
  std::vector<UniqueHandle> held;
  std::wstring dir;  // extended path of the innermost directory walked
};

// Deletes a file or a link of either kind; a read-only file loses its flag
// first, as a POSIX unlink does not ask for the file's own permissions.
bool deleteEntry(const std::wstring& path, DWORD attributes) {
  bool isLink = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  if (isLink && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return RemoveDirectoryW(path.c_str());
  if (DeleteFileW(path.c_str())) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED || isLink || !(attributes & FILE_ATTRIBUTE_READONLY))
    return false;
  return SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) &&
         DeleteFileW(path.c_str());
}

// The names in the directory `dir`, without "." and "..".
bool listNames(const std::wstring& dir, std::vector<std::string>* names) {
  WIN32_FIND_DATAW data;
  UniqueFindHandle search(FindFirstFileExW(joinWide(dir, "*").c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH));
  if (!search.valid()) return GetLastError() == ERROR_FILE_NOT_FOUND;  // a bare drive root
  do {
    if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0)
      names->push_back(narrow(data.cFileName));
  } while (FindNextFileW(search.get(), &data));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

bool removeEntry(const std::wstring& path);

// Removes what the directory `dir` holds, holding it meanwhile so that it
// cannot be swapped for a link while its entries go.
bool removeChildren(const std::wstring& dir) {
  UniqueHandle held;
  if (!holdDirectory(dir, &held)) return false;
  std::vector<std::string> names;
  if (!listNames(dir, &names)) return false;
  for (const std::string& name : names) {
    if (!removeEntry(joinWide(dir, name))) return false;
  }
  return true;
}

// Removes `path` with everything below it; links are removed as links.
bool removeEntry(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return isNotFound(GetLastError());
  bool plainDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (!plainDirectory) return deleteEntry(path, attributes) || isNotFound(GetLastError());
  if (!removeChildren(path)) return false;
  return RemoveDirectoryW(path.c_str()) || isNotFound(GetLastError());
}

// The layout of FSCTL_GET_REPARSE_POINT's answer for symbolic links and
// junctions: a header, then offsets into a name buffer; symbolic links
// carry a flags word before it.
struct ReparseHeader {
  DWORD tag;
  WORD dataLength;
  WORD reserved;
  WORD substituteOffset;
  WORD substituteLength;
  WORD printOffset;
  WORD printLength;
};

// The target text of a symbolic link or junction, "" when `data` is none.
std::wstring reparseTarget(const char* data, size_t size) {
  ReparseHeader header;
  if (size < sizeof header) return {};
  std::memcpy(&header, data, sizeof header);
  size_t names = sizeof header;
  if (header.tag == IO_REPARSE_TAG_SYMLINK) names += sizeof(ULONG);
  else if (header.tag != IO_REPARSE_TAG_MOUNT_POINT) return {};
  bool usePrint = header.printLength > 0;
  size_t offset = names + (usePrint ? header.printOffset : header.substituteOffset);
  size_t length = usePrint ? header.printLength : header.substituteLength;
  if (offset + length > size) return {};
  std::wstring target(length / sizeof(wchar_t), L'\0');
  std::memcpy(target.data(), data + offset, target.size() * sizeof(wchar_t));
  // A substitute name is an NT path: "\??\C:\x".
  if (!usePrint && target.starts_with(L"\\??\\")) target.erase(0, 4);
  return target;
}

bool isAbsoluteTarget(const std::wstring& target) {
  return target.starts_with(L"\\") || (target.size() >= 2 && target[1] == L':');
}

class WindowsLock final : public TreeLock {
 public:
  explicit WindowsLock(UniqueHandle file) : file_(std::move(file)) {}
  ~WindowsLock() override {
    // The text goes before the lock, so a waiter never reads a stale one.
    truncate();
  }

  bool setHolderText(const std::string& text) override {
    DWORD written = 0;
    return truncate() &&
           WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) &&
           written == text.size();
  }

 private:
  bool truncate() {
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) && SetEndOfFile(file_.get());
  }

  UniqueHandle file_;  // closing it releases the lock
};

// The lock covers one byte far beyond any holder text: a locked range
// blocks other handles' reads and writes of it, and the text must stay
// readable.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;

class WindowsDirectoryTree final : public DirectoryTree {
 public:
  WindowsDirectoryTree(std::string rootPath, std::wstring root)
      : rootPath_(std::move(rootPath)), root_(std::move(root)) {}

  EntryKind kind(const std::string& path, uint64_t* size) override {
    Walk walk;
    std::wstring target;
    if (!locate(path, &walk, &target)) {
      DWORD error = GetLastError();
      if (error == kErrorLinkNotFollowed) return EntryKind::kLink;
      return error == ERROR_DIRECTORY ? EntryKind::kOther : EntryKind::kMissing;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data))
      return EntryKind::kMissing;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kLink;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kDirectory;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::kOther;
    if (size != nullptr) *size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return EntryKind::kFile;
  }

  bool openForReading(const std::string& path,
                      std::unique_ptr<SequentialFile>* result) override {
    result->reset();
    Walk walk;
    std::wstring target;
    if (!locate(path, &walk, &target)) return fail("open", path);
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!file.valid()) return fail("open", path);
    DWORD attributes = handleAttributes(file.get());
    if (attributes == INVALID_FILE_ATTRIBUTES) return fail("open", path);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return failWith("open", path, kErrorLinkNotFollowed);
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return failWith("open", path, kErrorNotRegularFile);
    *result = makeWindowsSequentialFile(full(path), std::move(file));
    return true;
  }

  bool createFile(const std::string& path, std::unique_ptr<WritableFile>* result) override {
    result->reset();
    Walk walk;
    std::wstring target;
    if (!locate(path, &walk, &target)) return fail("create", path);
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return fail("create", path);
    unsynced_.insert(path);
    *result = makeWindowsWritableFile(full(path), std::move(file));
    return true;
  }

  bool createDirectories(const std::string& path, std::vector<std::string>* made) override {
    std::vector<std::string> parts = plainComponents(path);
    if (parts.empty()) return failWith("mkdir", path, ERROR_INVALID_NAME);
    Walk walk;
    if (!walkDirectories(parts, parts.size(), /*create=*/true, made, &walk))
      return fail("mkdir", path);
    return true;
  }

  bool rename(const std::string& from, const std::string& to) override {
    Walk fromWalk, toWalk;
    std::wstring source, target;
    if (!locate(from, &fromWalk, &source)) return fail("rename", from);
    if (!locate(to, &toWalk, &target)) return fail("rename", to);
    if (!MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return fail("rename", from);
    moveUnsynced(from, to);
    return true;
  }

  bool hardLink(const std::string& from, const std::string& to) override {
    Walk fromWalk, toWalk;
    std::wstring source, target;
    if (!locate(from, &fromWalk, &source)) return fail("link", from);
    if (!locate(to, &toWalk, &target)) return fail("link", to);
    if (!CreateHardLinkW(target.c_str(), source.c_str(), nullptr)) return fail("link", from);
    return true;
  }

  bool readLink(const std::string& path, std::string* result) override {
    Walk walk;
    std::wstring link;
    if (!locate(path, &walk, &link)) return fail("readlink", path);
    UniqueHandle file(CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!file.valid()) return fail("readlink", path);
    std::string data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE, '\0');
    DWORD got = 0;
    if (!DeviceIoControl(file.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                         static_cast<DWORD>(data.size()), &got, nullptr))
      return fail("readlink", path);
    std::wstring target = reparseTarget(data.data(), got);
    if (target.empty()) return failWith("readlink", path, ERROR_NOT_A_REPARSE_POINT);
    *result = narrow(target);
    return true;
  }

  bool createLink(const std::string& target, const std::string& path) override {
    Walk walk;
    std::wstring link;
    if (!locate(path, &walk, &link)) return fail("symlink", path);
    std::wstring text = widen(target);
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (!makeSymbolicLink(link, text, isDirectoryTarget(walk.dir, text)))
      return fail("symlink", path);
    // Some systems report success without making the link.
    DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return failWith("symlink", path, ERROR_NOT_SUPPORTED);
    return true;
  }

  bool removeFile(const std::string& path) override {
    Walk walk;
    std::wstring target;
    if (!locate(path, &walk, &target)) return fail("remove", path);
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !deleteEntry(target, attributes))
      return fail("remove", path);
    unsynced_.erase(path);
    return true;
  }

  bool removeDirectory(const std::string& path) override {
    Walk walk;
    std::wstring target;
    if (!locate(path, &walk, &target)) return fail("rmdir", path);
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return failWith("rmdir", path, kErrorLinkNotFollowed);
    if (!RemoveDirectoryW(target.c_str())) return fail("rmdir", path);
    return true;
  }

  bool removeTree(const std::string& path) override {
    Walk walk;
    std::wstring target;
    if (!locate(path, &walk, &target)) {
      if (isNotFound(GetLastError())) return true;
      return fail("remove", path);
    }
    if (!removeEntry(target)) return fail("remove", path);
    return true;
  }

  bool list(const std::string& path, std::vector<std::string>* names) override {
    names->clear();
    Walk walk;
    if (!walkTo(path, &walk) || !listNames(walk.dir, names)) return fail("opendir", path);
    return true;
  }

  bool syncDirectory(const std::string& path) override {
    Walk walk;
    if (!walkTo(path, &walk)) return fail("sync", path);
    return flushDirectory(walk.dir, full(path));
  }

  // A whole volume can only be flushed with administrator rights.  Without
  // them the files this tree created are flushed one by one, which covers
  // what the tree's users write; renames are written through already.
  bool syncAll() override {
    if (flushVolume()) {
      unsynced_.clear();
      return true;
    }
    bool ok = true;
    for (const std::string& path : unsynced_) ok = flushFile(path) && ok;
    unsynced_.clear();
    return ok;
  }

  LockAttempt tryLock(const std::string& path, std::unique_ptr<TreeLock>* lock) override {
    lock->reset();
    Walk walk;
    std::wstring target;
    UniqueHandle file;
    if (!locate(path, &walk, &target) || !openLockFile(target, &file)) {
      fail("lock", path);
      return LockAttempt::kFailed;
    }
    OVERLAPPED range = {};
    range.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &range)) {
      if (GetLastError() == ERROR_LOCK_VIOLATION) return LockAttempt::kBusy;
      fail("lock", path);
      return LockAttempt::kFailed;
    }
    *lock = std::make_unique<WindowsLock>(std::move(file));
    return LockAttempt::kLocked;
  }

 private:
  std::string full(const std::string& path) const {
    return path.empty() ? rootPath_ : rootPath_ + "/" + path;
  }

  // Records "what root/path: reason" for the thread's last Win32 error.
  bool fail(const char* what, const std::string& path) {
    return failWith(what, path, GetLastError());
  }
  bool failWith(const char* what, const std::string& path, DWORD error) {
    return failWithWin32(what, full(path), error);
  }

  // Holds the root and the first `count` directories of `parts` in *walk;
  // with `made` given, missing ones are created and appended to it.
  // Holds the first `count` directories of `parts`, making the missing
  // ones when `create` (and appending those to *made when given).
  bool walkDirectories(const std::vector<std::string>& parts, size_t count, bool create,
                       std::vector<std::string>* made, Walk* walk) {
    walk->dir = root_;
    walk->held.emplace_back();
    if (!holdDirectory(walk->dir, &walk->held.back())) return false;
    std::string relative;
    for (size_t i = 0; i < count; ++i) {
      walk->dir = joinWide(walk->dir, parts[i]);
      relative += (i == 0 ? "" : "/") + parts[i];
      if (create && !createOne(walk->dir, relative, made)) return false;
      walk->held.emplace_back();
      if (!holdDirectory(walk->dir, &walk->held.back())) return false;
    }
    return true;
  }

  static bool createOne(const std::wstring& dir, const std::string& relative,
                        std::vector<std::string>* made) {
    if (CreateDirectoryW(dir.c_str(), nullptr)) {
      if (made != nullptr) made->push_back(relative);
      return true;
    }
    return GetLastError() == ERROR_ALREADY_EXISTS;
  }

  // Holds the directories above `path` and gives its extended path.
  bool locate(const std::string& path, Walk* walk, std::wstring* target) {
    std::vector<std::string> parts = plainComponents(path);
    if (parts.empty()) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    if (!walkDirectories(parts, parts.size() - 1, /*create=*/false, nullptr, walk)) return false;
    *target = joinWide(walk->dir, parts.back());
    return true;
  }

  // Holds the directory `path` ("" for the root) and those above it.
  bool walkTo(const std::string& path, Walk* walk) {
    std::vector<std::string> parts;
    if (!path.empty()) {
      parts = plainComponents(path);
      if (parts.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
      }
    }
    return walkDirectories(parts, parts.size(), /*create=*/false, nullptr, walk);
  }

  static bool makeSymbolicLink(const std::wstring& link, const std::wstring& target,
                               bool directory) {
    DWORD flags = directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(),
                            flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
      return true;
    // Systems before developer mode existed refuse the flag itself.
    return GetLastError() == ERROR_INVALID_PARAMETER &&
           CreateSymbolicLinkW(link.c_str(), target.c_str(), flags);
  }

  // Whether `target`, read from the directory `dir` a link is made in, is a
  // directory now; a link to a directory must be made as one.
  static bool isDirectoryTarget(const std::wstring& dir, const std::wstring& target) {
    std::wstring resolved =
        isAbsoluteTarget(target) ? extendedPath(narrow(target)) : dir + L"\\" + target;
    DWORD attributes = GetFileAttributesW(resolved.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  static bool openLockFile(const std::wstring& path, UniqueHandle* file) {
    *file = UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                     nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file->valid()) return false;
    DWORD attributes = handleAttributes(file->get());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return true;
    file->reset();
    SetLastError(attributes == INVALID_FILE_ATTRIBUTES ? ERROR_ACCESS_DENIED
                                                       : kErrorLinkNotFollowed);
    return false;
  }

  // The volume device ("\\.\C:") of the root, flushed; false when it cannot
  // be opened or flushed (no administrator rights, or no drive letter).
  bool flushVolume() {
    wchar_t volume[MAX_PATH + 1];
    if (!GetVolumePathNameW(root_.c_str(), volume, MAX_PATH + 1)) return false;
    std::wstring name = volume;
    if (name.starts_with(L"\\\\?\\")) name.erase(0, 4);
    if (name.size() < 2 || name[1] != L':') return false;
    UniqueHandle device(CreateFileW((L"\\\\.\\" + name.substr(0, 2)).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    return device.valid() && FlushFileBuffers(device.get());
  }

  // Flushes the file `path` the tree created; one removed since is fine.
  bool flushFile(const std::string& path) {
    Walk walk;
    std::wstring target;
    if (!locate(path, &walk, &target)) return isNotFound(GetLastError()) || fail("sync", path);
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return isNotFound(GetLastError()) || fail("sync", path);
    return FlushFileBuffers(file.get()) || fail("sync", path);
  }

  // Follows the created files that a rename moves, one file or a folder.
  void moveUnsynced(const std::string& from, const std::string& to) {
    const std::string below = from + "/";
    std::vector<std::string> moved;
    for (auto it = unsynced_.lower_bound(from); it != unsynced_.end();) {
      if (*it != from && !it->starts_with(below)) break;
      moved.push_back(to + it->substr(from.size()));
      it = unsynced_.erase(it);
    }
    unsynced_.insert(moved.begin(), moved.end());
  }

  std::string rootPath_;  // as the caller gave it, for error texts
  std::wstring root_;     // extended final path, links of the root resolved
  // Files created since the last syncAll, by their paths in the tree.
  std::set<std::string> unsynced_;
};

}  // namespace

bool openWindowsDirectoryTree(const std::string& root, std::unique_ptr<DirectoryTree>* result) {
  result->reset();
  // The root itself may be a link: it is resolved once, and only what lies
  // below it is walked without following links.
  UniqueHandle dir(CreateFileW(extendedPath(root).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!dir.valid()) return failWithLastWin32Error("opendir", root);
  DWORD attributes = handleAttributes(dir.get());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return failWithWin32("opendir", root, ERROR_DIRECTORY);
  std::wstring final = finalPathOf(dir.get(), root);
  if (final.empty()) return failWithLastWin32Error("opendir", root);
  *result = std::make_unique<WindowsDirectoryTree>(root, extendedPath(withoutExtendedPrefix(final)));
  return true;
}

}  // namespace ovix
