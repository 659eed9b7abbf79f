// The POSIX file objects of the real Env, shared by its directory trees.

#ifndef OVIX_PLATFORM_POSIX_FILE_H_
#define OVIX_PLATFORM_POSIX_FILE_H_

#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/unique_fd.h"

namespace ovix {

// Owners of an open descriptor; `path` names the file in error texts.
std::unique_ptr<SequentialFile> makePosixSequentialFile(std::string path, UniqueFd fd);
std::unique_ptr<WritableFile> makePosixWritableFile(std::string path, UniqueFd fd);

// Records "what path: <errno text>" as the last error; returns false.
bool failWithErrno(const char* what, const std::string& path);

// Opens the directory tree rooted at `root` (see directory_tree.h).
bool openPosixDirectoryTree(const std::string& root, std::unique_ptr<DirectoryTree>* result);

}  // namespace ovix

#endif  // OVIX_PLATFORM_POSIX_FILE_H_
