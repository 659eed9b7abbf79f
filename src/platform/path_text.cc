#include "platform/path_text.h"

#include <algorithm>

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

}  // namespace ovix
