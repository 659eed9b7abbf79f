#include "platform/path_text.h"

#include <algorithm>
#include <cctype>

namespace ovix {

std::string keyToNativePath(std::string_view key) {
  std::string out(key);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

std::string nativePathToKey(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

std::string joinPath(std::string_view dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  if (name.empty()) return std::string(dir);
  std::string out(dir);
  if (out.back() != '/') out += '/';
  out.append(name.front() == '/' ? name.substr(1) : name);
  return out;
}

std::string parentPath(std::string_view path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
    path.remove_suffix(1);
  size_t cut = path.find_last_of("/\\");
  if (cut == std::string_view::npos) return {};
  if (cut == 0) return "/";
  return std::string(path.substr(0, cut));
}

std::string baseName(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool isSingleFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool isAbsolutePath(std::string_view path) {
  if (path.starts_with('/')) return true;
#ifdef _WIN32
  const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                     path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || path.starts_with("\\\\");
#else
  return false;
#endif
}

namespace {
char foldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
}  // namespace

// Greedy with one step back to the last '*': linear for patterns with a
// single star, never exponential.
bool matchesWildcard(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || foldCase(pattern[p]) == foldCase(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace ovix
