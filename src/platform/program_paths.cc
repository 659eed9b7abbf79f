#include "platform/program_paths.h"

#include <memory>

#include "platform/path_text.h"

namespace ovix {

std::string moduleBasePath;
std::string programDirectory;

namespace {

std::string withoutExeSuffix(std::string path) {
  constexpr std::string_view kExe = ".exe";
  if (path.size() >= kExe.size() && path.compare(path.size() - kExe.size(), kExe.size(), kExe) == 0)
    path.resize(path.size() - kExe.size());
  return path;
}

// The text before the last '\' or '/', or "" when there is none.
std::string directoryOf(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// Creates `dir` and the parents it lacks; true when it exists afterwards.
bool createDirectories(Env& env, const std::string& dir) {
  if (dir.empty()) return false;
  if (env.isDirectory(dir)) return true;
  std::string parent = parentPath(dir);
  if (!parent.empty() && !createDirectories(env, parent)) return false;
  return env.createDir(dir);
}

}  // namespace

void fillProgramPaths(const std::string& executablePath,
                      const std::optional<std::string>& homeDir) {
  moduleBasePath.clear();
  programDirectory.clear();
  if (executablePath.empty()) return;
  std::string base = withoutExeSuffix(executablePath);
  if (homeDir && !homeDir->empty()) {
    std::string home = *homeDir;
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    base = joinPath(home, baseName(base));
  }
  moduleBasePath = base;
  programDirectory = directoryOf(base);
}

bool canCreateFilesIn(Env& env, const std::string& dir) {
  if (!env.isDirectory(dir)) return false;
  // A fresh name, created exclusively: a link someone put at a fixed probe
  // name must never be followed and truncated.
  std::string probe = joinPath(dir, ".ovix-write-probe" + uniqueSuffix());
  std::unique_ptr<WritableFile> file;
  if (!env.newWritableFile(probe, WriteMode::kCreateNew, &file)) return false;
  file.reset();
  env.removeFile(probe);
  return true;
}

std::string userDirectory(Env& env, const char* variable, const char* fallback) {
  std::string base;
  if (std::optional<std::string> xdg = env.getEnv(variable); xdg && isAbsolutePath(*xdg)) {
    base = *xdg;
#ifdef _WIN32
  } else if (std::optional<std::string> local = env.getEnv("LOCALAPPDATA");
             local && isAbsolutePath(*local)) {
    base = *local;  // the user's own, not roaming, data on Windows
#endif
  } else if (std::optional<std::string> home = env.getEnv("HOME"); home && !home->empty()) {
    base = joinPath(*home, fallback);
  } else {
    return {};
  }
  std::string dir = joinPath(base, "ovix");
  return createDirectories(env, dir) ? dir : std::string();
}

std::optional<std::string> defaultHomeDir(Env& env, const std::string& executablePath) {
  if (executablePath.empty() || canCreateFilesIn(env, directoryOf(executablePath)))
    return std::nullopt;
  std::string data = userDirectory(env, "XDG_DATA_HOME", ".local/share");
  if (data.empty()) return std::nullopt;
  return data;
}

}  // namespace ovix
