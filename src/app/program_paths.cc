#include "app/program_paths.h"

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

}  // namespace ovix
