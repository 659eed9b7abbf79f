// Pieces shared by the Windows Env and its directory trees: handle owners,
// Win32 error texts, extended-length paths and the file objects.  Windows
// only; nothing outside src/platform includes this.

#ifndef OVIX_PLATFORM_WIN32_UTIL_WINDOWS_H_
#define OVIX_PLATFORM_WIN32_UTIL_WINDOWS_H_

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/env.h"

namespace ovix {

// Move-only owner of a kernel handle.  Both INVALID_HANDLE_VALUE (CreateFileW,
// snapshots) and null (OpenProcess) count as "no handle".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

  // Closes the held handle; false when CloseHandle reported an error.
  bool reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    bool ok = !valid() || CloseHandle(handle_) != 0;
    handle_ = handle;
    return ok;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Move-only owner of a FindFirstFileExW search.
class UniqueFindHandle {
 public:
  UniqueFindHandle() = default;
  explicit UniqueFindHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueFindHandle() {
    if (valid()) FindClose(handle_);
  }
  UniqueFindHandle(UniqueFindHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueFindHandle& operator=(UniqueFindHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  UniqueFindHandle(const UniqueFindHandle&) = delete;
  UniqueFindHandle& operator=(const UniqueFindHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Our own handles never stand in the way of a reader, a writer or a rename
// of the file by someone else (the installer renames files it still holds).
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Error codes of our own (bit 29 marks application codes) for reasons the
// system has no code for; win32ErrorText knows their texts.
constexpr DWORD kErrorLinkNotFollowed = 0x20000001;  // a link on the way or at the target
constexpr DWORD kErrorNotRegularFile = 0x20000002;

// The system's text for `code` in UTF-8, without the trailing line break,
// e.g. "The system cannot find the file specified."; "error N" when the
// system has none.
std::string win32ErrorText(DWORD code);

// Records "what path: <text of code>" as the last error; returns false.
bool failWithWin32(const char* what, const std::string& path, DWORD code);
// The same with GetLastError().
bool failWithLastWin32Error(const char* what, const std::string& path);

// The extended-length form of `path` ("\\?\C:\x", "\\?\UNC\server\share\x")
// that Win32 calls accept beyond MAX_PATH: made absolute against the
// current directory and drive, '/' turned into '\'.  A path already in
// "\\?\" or "\\.\" form is kept as it is.  Empty when the path cannot be
// made absolute.
std::wstring extendedPath(std::string_view path);

// `path` without a leading "\\?\" ("\\?\UNC\" becomes "\\"), in UTF-8.
std::string withoutExtendedPrefix(std::wstring_view path);

// A Win32 call that fills a buffer of `size` characters and returns the
// length it wrote, or the size it needs when the buffer is short, retried
// with a grown buffer.  A short buffer reported as a failure with
// ERROR_MORE_DATA or ERROR_INSUFFICIENT_BUFFER (Wine does so) also grows
// it.  Empty when the call fails.
template <typename Call>
std::wstring growingBuffer(Call call) {
  std::wstring buf(MAX_PATH, L'\0');
  // Nine doublings pass the longest path Windows has (32767 characters).
  for (int attempt = 0; attempt < 9; ++attempt) {
    DWORD n = call(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) {
      DWORD error = GetLastError();
      if (error != ERROR_MORE_DATA && error != ERROR_INSUFFICIENT_BUFFER) return {};
      n = static_cast<DWORD>(buf.size());
    }
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(std::max<size_t>(n, buf.size() * 2));
  }
  return {};
}

// The final path of the open file or directory, links resolved, usually in
// "\\?\" form.  Where the system cannot name it past MAX_PATH (Wine), the
// full form of `given` stands in, without links resolved; empty when that
// fails too.
std::wstring finalPathOf(HANDLE handle, std::string_view given);

// The attributes of an open handle; INVALID_FILE_ATTRIBUTES when they
// cannot be read.
DWORD handleAttributes(HANDLE handle);

// Flushes the directory `extended` (an extendedPath) without following a
// link at it; `shown` names it in error texts.  Directory entries are
// journaled metadata on NTFS and ReFS, written with the journal rather than
// through a directory handle, so where the system refuses the open or the
// flush for access or as unsupported, the directory counts as flushed.
bool flushDirectory(const std::wstring& extended, const std::string& shown);

// Owners of an open file handle; `path` names the file in error texts.
std::unique_ptr<SequentialFile> makeWindowsSequentialFile(std::string path, UniqueHandle file);
std::unique_ptr<WritableFile> makeWindowsWritableFile(std::string path, UniqueHandle file);

// Opens the directory tree rooted at `root` (see directory_tree.h).
bool openWindowsDirectoryTree(const std::string& root, std::unique_ptr<DirectoryTree>* result);

}  // namespace ovix

#endif  // OVIX_PLATFORM_WIN32_UTIL_WINDOWS_H_
