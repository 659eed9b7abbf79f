#include "platform/win32_util_windows.h"

#include <algorithm>

#include "platform/utf16_windows.h"

namespace ovix {

std::string win32ErrorText(DWORD code) {
  if (code == kErrorLinkNotFollowed) return "a link on the way is not followed";
  if (code == kErrorNotRegularFile) return "not a regular file";
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) return "error " + std::to_string(code);
  std::wstring_view view(text, n);
  while (!view.empty() && (view.back() == L'\r' || view.back() == L'\n' || view.back() == L' '))
    view.remove_suffix(1);
  std::string result = narrow(view);
  LocalFree(text);
  return result;
}

bool failWithWin32(const char* what, const std::string& path, DWORD code) {
  setLastError(std::string(what) + " " + path + ": " + win32ErrorText(code));
  return false;
}

bool failWithLastWin32Error(const char* what, const std::string& path) {
  return failWithWin32(what, path, GetLastError());
}

namespace {

bool startsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// GetFullPathNameW into a buffer grown until the result fits.
std::wstring fullPathName(const std::wstring& path) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(n);  // n counts the terminating null when the buffer was short
  }
}

}  // namespace

std::wstring extendedPath(std::string_view path) {
  std::wstring wide = widen(path);
  if (startsWith(wide, L"\\\\?\\") || startsWith(wide, L"\\\\.\\")) return wide;
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  if (wide.empty()) return {};
  std::wstring full = fullPathName(wide);
  if (full.empty()) return {};
  if (startsWith(full, L"\\\\?\\") || startsWith(full, L"\\\\.\\")) return full;
  if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string withoutExtendedPrefix(std::wstring_view path) {
  if (startsWith(path, L"\\\\?\\UNC\\")) return "\\\\" + narrow(path.substr(8));
  if (startsWith(path, L"\\\\?\\")) return narrow(path.substr(4));
  return narrow(path);
}

std::wstring finalPathOf(HANDLE handle, std::string_view given) {
  std::wstring final = growingBuffer([&](wchar_t* buf, DWORD size) {
    return GetFinalPathNameByHandleW(handle, buf, size, FILE_NAME_NORMALIZED);
  });
  if (final.empty() && GetLastError() == ERROR_MORE_DATA) return extendedPath(given);
  return final;
}

DWORD handleAttributes(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return INVALID_FILE_ATTRIBUTES;
  return info.dwFileAttributes;
}

bool flushDirectory(const std::wstring& extended, const std::string& shown) {
  UniqueHandle dir(CreateFileW(extended.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                               OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!dir.valid()) {
    if (GetLastError() == ERROR_ACCESS_DENIED) return true;
    return failWithLastWin32Error("open", shown);
  }
  if (FlushFileBuffers(dir.get())) return true;
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION) return true;
  return failWithWin32("sync", shown, error);
}

namespace {

// ReadFile and WriteFile take a DWORD count; larger requests go in pieces.
constexpr size_t kMaxChunk = 1u << 30;

class WindowsSequentialFile final : public SequentialFile {
 public:
  WindowsSequentialFile(std::string path, UniqueHandle file)
      : path_(std::move(path)), file_(std::move(file)) {}

  bool read(char* buf, size_t n, size_t* got) override {
    *got = 0;
    DWORD done = 0;
    if (!ReadFile(file_.get(), buf, static_cast<DWORD>(std::min(n, kMaxChunk)), &done, nullptr))
      return failWithLastWin32Error("read", path_);
    *got = done;
    return true;
  }

  std::optional<uint64_t> size() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
  }

 private:
  std::string path_;
  UniqueHandle file_;
};

class WindowsWritableFile final : public WritableFile {
 public:
  WindowsWritableFile(std::string path, UniqueHandle file)
      : path_(std::move(path)), file_(std::move(file)) {}

  bool append(const char* data, size_t n) override {
    while (n > 0) {
      DWORD done = 0;
      if (!WriteFile(file_.get(), data, static_cast<DWORD>(std::min(n, kMaxChunk)), &done,
                     nullptr))
        return failWithLastWin32Error("write", path_);
      data += done;
      n -= done;
    }
    return true;
  }

  bool sync() override {
    if (!FlushFileBuffers(file_.get())) return failWithLastWin32Error("sync", path_);
    return true;
  }

  bool close() override {
    if (!file_.valid()) return true;
    if (!file_.reset()) return failWithLastWin32Error("close", path_);
    return true;
  }

 private:
  std::string path_;
  UniqueHandle file_;
};

}  // namespace

std::unique_ptr<SequentialFile> makeWindowsSequentialFile(std::string path, UniqueHandle file) {
  return std::make_unique<WindowsSequentialFile>(std::move(path), std::move(file));
}

std::unique_ptr<WritableFile> makeWindowsWritableFile(std::string path, UniqueHandle file) {
  return std::make_unique<WindowsWritableFile>(std::move(path), std::move(file));
}

}  // namespace ovix
