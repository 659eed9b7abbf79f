// The real Env on Windows.  UTF-8 inside, UTF-16 at every Win32 call; every
// path is made absolute and given the "\\?\" prefix so that paths beyond
// MAX_PATH work, while error texts show the path as the caller gave it.

#include "platform/env.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>

#include "platform/utf16_windows.h"
#include "platform/win32_util_windows.h"

namespace ovix {
namespace {

thread_local std::string tlsLastError;

bool fail(const char* what, const std::string& path) { return failWithLastWin32Error(what, path); }

// Opens `path` without following a link at it; `access` and `disposition`
// as for CreateFileW.
UniqueHandle openNoFollow(const std::string& path, DWORD access, DWORD disposition,
                          DWORD flags = 0) {
  return UniqueHandle(CreateFileW(extendedPath(path).c_str(), access, kShareAll, nullptr,
                                  disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Opens `path` following links, for its attributes only; directories too.
UniqueHandle openForAttributes(const std::string& path) {
  return UniqueHandle(CreateFileW(extendedPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// False (with the reason recorded) when the open handle is a link.
bool refuseLink(HANDLE handle, const std::string& path) {
  DWORD attributes = handleAttributes(handle);
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail("open", path);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return failWithWin32("open", path, kErrorLinkNotFollowed);
  return true;
}

// Access of a file opened for appending: without FILE_WRITE_DATA every write
// goes to the end of the file, as with O_APPEND.
constexpr DWORD kAppendAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

UniqueHandle openForWriting(const std::string& path, WriteMode mode) {
  switch (mode) {
    case WriteMode::kCreateNew:
      return openNoFollow(path, GENERIC_WRITE, CREATE_NEW);
    case WriteMode::kAppend:
      return openNoFollow(path, kAppendAccess, OPEN_ALWAYS);
    case WriteMode::kTruncate:
      // Not CREATE_ALWAYS: a link at the path must be refused before
      // anything is cut off.
      return openNoFollow(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_ALWAYS);
  }
  return {};
}

std::string afterLastSeparator(std::string_view path) {
  size_t cut = path.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// True when the link at `path` leads to a regular file.
bool linkLeadsToFile(const std::string& path) {
  UniqueHandle target = openForAttributes(path);
  DWORD attributes = target.valid() ? handleAttributes(target.get()) : INVALID_FILE_ATTRIBUTES;
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DirEntry toDirEntry(const WIN32_FIND_DATAW& data, const std::string& directory) {
  DirEntry entry;
  entry.name = narrow(data.cFileName);
  bool isReparse = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
  bool isDirectory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  entry.isLink = isReparse;
  entry.isDirectory = isDirectory && !isReparse;
  entry.isFile = isReparse ? linkLeadsToFile(directory + "\\" + entry.name) : !isDirectory;
  return entry;
}

bool isDotOrDotDot(const wchar_t* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

std::wstring systemDirectory() {
  return growingBuffer([](wchar_t* buf, DWORD size) { return GetSystemDirectoryW(buf, size); });
}

// Starts `application` with `commandLine`, not inheriting our handles, in a
// process group of its own and without a console; no wait.
bool startProcess(const std::wstring& application, std::wstring commandLine,
                  const wchar_t* directory) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                      nullptr, directory, &startup, &info))
    return false;
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  return true;
}

class WindowsEnv final : public Env {
 public:
  bool newSequentialFile(const std::string& path,
                         std::unique_ptr<SequentialFile>* result) override {
    result->reset();
    UniqueHandle file(CreateFileW(extendedPath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return fail("open", path);
    *result = makeWindowsSequentialFile(path, std::move(file));
    return true;
  }

  bool newWritableFile(const std::string& path, WriteMode mode,
                       std::unique_ptr<WritableFile>* result) override {
    result->reset();
    // A link at the path is never written through: logs and working files
    // often lie in folders that others can write.
    UniqueHandle file = openForWriting(path, mode);
    if (!file.valid()) return fail("open", path);
    if (!refuseLink(file.get(), path)) return false;
    if (mode == WriteMode::kTruncate && !SetEndOfFile(file.get())) return fail("truncate", path);
    *result = makeWindowsWritableFile(path, std::move(file));
    return true;
  }

  bool fileExists(const std::string& path) override {
    return GetFileAttributesW(extendedPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool isDirectory(const std::string& path) override {
    DWORD attributes = GetFileAttributesW(extendedPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::optional<uint64_t> fileSize(const std::string& path) override {
    UniqueHandle file = openForAttributes(path);
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) {
      fail("stat", path);
      return std::nullopt;
    }
    return static_cast<uint64_t>(size.QuadPart);
  }

  bool removeFile(const std::string& path) override {
    std::wstring wide = extendedPath(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    // A link to a directory is itself a directory entry on Windows.
    bool directoryLink = attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!(directoryLink ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str())))
      return fail("remove", path);
    return true;
  }

  bool renameFile(const std::string& from, const std::string& to) override {
    if (!MoveFileExW(extendedPath(from).c_str(), extendedPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return fail("rename", from);
    return true;
  }

  bool syncPath(const std::string& path) override {
    if (isDirectory(path)) return flushDirectory(extendedPath(path), path);
    UniqueHandle file(CreateFileW(extendedPath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return fail("open", path);
    if (!FlushFileBuffers(file.get())) return fail("sync", path);
    return true;
  }

  bool createDir(const std::string& path) override {
    if (CreateDirectoryW(extendedPath(path).c_str(), nullptr)) return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path)) return true;
    return fail("mkdir", path);
  }

  bool listDirectory(const std::string& path, std::vector<DirEntry>* entries) override {
    entries->clear();
    WIN32_FIND_DATAW data;
    std::wstring pattern = extendedPath(path);
    pattern += pattern.ends_with(L'\\') ? L"*" : L"\\*";  // a drive's root ends in '\'
    UniqueFindHandle search(FindFirstFileExW(pattern.c_str(),
                                             FindExInfoBasic, &data, FindExSearchNameMatch,
                                             nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search.valid()) {
      // Only a drive's root can be without even "." and "..".
      if (GetLastError() == ERROR_FILE_NOT_FOUND && isDirectory(path)) return true;
      return fail("opendir", path);
    }
    do {
      if (!isDotOrDotDot(data.cFileName)) entries->push_back(toDirEntry(data, path));
    } while (FindNextFileW(search.get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) return fail("readdir", path);
    return true;
  }

  bool openTree(const std::string& root, std::unique_ptr<DirectoryTree>* result) override {
    return openWindowsDirectoryTree(root, result);
  }

  bool realPath(const std::string& path, std::string* resolved) override {
    UniqueHandle file = openForAttributes(path);
    if (!file.valid()) return fail("realpath", path);
    std::wstring final = finalPathOf(file.get(), path);
    if (final.empty()) return fail("realpath", path);
    *resolved = withoutExtendedPrefix(final);
    return true;
  }

  std::time_t now() override { return std::time(nullptr); }

  void sleepMilliseconds(int milliseconds) override {
    Sleep(static_cast<DWORD>(std::max(milliseconds, 0)));
  }

  std::string executablePath() override {
    std::wstring path = growingBuffer([](wchar_t* buf, DWORD size) {
      DWORD n = GetModuleFileNameW(nullptr, buf, size);
      return n == size ? size + 1 : n;  // a full buffer means the name was cut
    });
    return withoutExtendedPrefix(path);
  }

  std::string processDescription() override {
    DWORD size = 0;
    GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
    std::wstring host(size, L'\0');
    if (size == 0 || !GetComputerNameExW(ComputerNameDnsHostname, host.data(), &size)) size = 0;
    host.resize(size);
    return "process " + std::to_string(GetCurrentProcessId()) + " on " + narrow(host);
  }

  std::optional<std::string> getEnv(const std::string& name) override {
    std::wstring wideName = widen(name);
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    std::wstring value = growingBuffer([&](wchar_t* buf, DWORD bufSize) {
      return GetEnvironmentVariableW(wideName.c_str(), buf, bufSize);
    });
    return narrow(value);
  }

  bool spawnDetached(const std::string& commandLine) override {
    // /s keeps the command line as it is inside the outer quotes; /d skips
    // the AutoRun commands a user may have set for cmd.exe.
    std::wstring line = L"cmd.exe /d /s /c \"" + widen(commandLine) + L"\"";
    if (!startProcess(systemDirectory() + L"\\cmd.exe", std::move(line), nullptr))
      return fail("spawn", commandLine);
    return true;
  }

  bool listProcesses(std::vector<ProcessInfo>* out) override {
    out->clear();
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return fail("list", "processes");
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!Process32FirstW(snapshot.get(), &entry)) return fail("list", "processes");
    do {
      std::string name = afterLastSeparator(narrow(entry.szExeFile));
      if (!name.empty()) out->push_back({static_cast<int>(entry.th32ProcessID), std::move(name)});
    } while (Process32NextW(snapshot.get(), &entry));
    return true;
  }

  bool terminateProcess(int pid) override {
    if (pid < 1) {
      setLastError("kill " + std::to_string(pid) + ": not a single process");
      return false;
    }
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)));
    if (!process.valid() || !TerminateProcess(process.get(), 1))
      return fail("kill", std::to_string(pid));
    return true;
  }

  bool spawnProgram(const std::string& path, int* errorCode) override {
    *errorCode = 0;
    // CreateProcessW takes no "\\?\" names; the program starts in its own
    // folder, where it finds the DLLs installed beside it.
    std::wstring program = widen(withoutExtendedPrefix(extendedPath(path)));
    std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    if (program.empty() ||
        !startProcess(program, L"\"" + program + L"\"", folder.empty() ? nullptr : folder.c_str())) {
      *errorCode = program.empty() ? ERROR_INVALID_NAME : static_cast<int>(GetLastError());
      return failWithWin32("exec", path, static_cast<DWORD>(*errorCode));
    }
    return true;
  }
};

}  // namespace

void setLastError(std::string text) { tlsLastError = std::move(text); }

const std::string& Env::lastError() { return tlsLastError; }

Env* Env::Default() {
  static WindowsEnv* env = new WindowsEnv;  // never destroyed: used until exit
  return env;
}

}  // namespace ovix
