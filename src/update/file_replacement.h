// Replacing files of an installation safely: staged bytes take a file's
// place by rename, the file's earlier bytes stay in the package's backup
// folder, and a failed package puts them back.

#ifndef OVIX_UPDATE_FILE_REPLACEMENT_H_
#define OVIX_UPDATE_FILE_REPLACEMENT_H_

#include <set>
#include <string>
#include <vector>

#include "platform/env.h"

namespace ovix {

// Creates `path` once per run: later calls for the same path do nothing.
// Errors are ignored (a missing directory shows as a failed write).
void makeDirectoryOnce(Env& env, const std::string& path);

// Creates every directory of the directory part of `relativeFile` (a key
// separated by '\' or '/') below `base`, shortest prefix first.
void makeDirectoryChain(Env& env, const std::string& base, const std::string& relativeFile);

// Writes `n` bytes to a new file `path`; false when it cannot be written.
bool writeWholeFile(Env& env, const std::string& path, const void* data, size_t n);

// Flushes the file system that holds `path` to stable storage.
void syncFileSystemOf(const std::string& path);

// A folder for fetched files, removed with everything in it when the
// object goes.
class StagingFolder {
 public:
  StagingFolder(Env& env, std::string path) : env_(env), path_(std::move(path)) {}
  ~StagingFolder();
  // Creates the folder (and its parents) empty; false when it cannot.
  bool create();

 private:
  Env& env_;
  std::string path_;
};

class FileReplacer {
 public:
  FileReplacer(Env& env, std::string installDir, std::string backupDir)
      : env_(env), installDir_(std::move(installDir)), backupDir_(std::move(backupDir)) {}

  // Puts the staged file in place of the installation's file `key`,
  // keeping the file's bytes in the backup folder first unless a backup of
  // it is there already (from an earlier, interrupted run: that one holds
  // the bytes from before the first run).  False (logged) when the file
  // cannot be replaced; the file is then unchanged.
  bool replace(const std::string& key, const std::string& staged);

  // Puts back, in order, every file this object replaced that had a
  // backup; files that did not exist before stay.
  void restoreAll();

 private:
  bool backUp(const std::string& key, const std::string& target);

  Env& env_;
  std::string installDir_;
  std::string backupDir_;
  std::vector<std::string> replaced_;
};

}  // namespace ovix

#endif  // OVIX_UPDATE_FILE_REPLACEMENT_H_
