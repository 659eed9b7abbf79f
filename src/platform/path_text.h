// Path texts: joining, splitting, and turning backslash-separated keys into
// native paths.  Pure string work; nothing here touches the file system.

#ifndef OVIX_PLATFORM_PATH_TEXT_H_
#define OVIX_PLATFORM_PATH_TEXT_H_

#include <string>
#include <string_view>

namespace ovix {

// "a\b\c" -> "a/b/c".
std::string keyToNativePath(std::string_view key);
// "a/b/c" -> "a\b\c".
std::string nativePathToKey(std::string_view path);

// Joins with one '/'; an empty side gives the other side.
std::string joinPath(std::string_view dir, std::string_view name);

// The text before the last '/' or '\', "" when there is none.  A trailing
// separator is removed first, so parentPath("/a/b/") is "/a".
std::string parentPath(std::string_view path);

// The text after the last '/' or '\'.
std::string baseName(std::string_view path);

// True when `name` names one entry of a folder: not empty, not "." or "..",
// without '/', '\' or NUL.
bool isSingleFileName(std::string_view name);

// True for "/x", and on Windows also for "C:\x", "C:/x" and "\\host\x".
bool isAbsolutePath(std::string_view path);

// True when `name` matches `pattern`, in which '*' stands for any run of
// characters and '?' for one; ASCII letters match in either case.
bool matchesWildcard(std::string_view pattern, std::string_view name);

}  // namespace ovix

#endif  // OVIX_PLATFORM_PATH_TEXT_H_
