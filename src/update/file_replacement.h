// Replacing files of an installation safely: staged bytes take a file's
// place by rename, the file's earlier bytes stay in the package's backup
// folder, and a failed package is put back as it was.  Every path is
// relative to the installation and walked without following links (see
// platform/directory_tree.h), so nothing is written, backed up or restored
// outside it.

#ifndef OVIX_UPDATE_FILE_REPLACEMENT_H_
#define OVIX_UPDATE_FILE_REPLACEMENT_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace ovix {

// The folder below the installation that holds backups and staging.
inline constexpr char kPatchFolder[] = "patch";

// A folder for fetched files with a name no other run uses, removed with
// everything in it when the object goes.
class StagingFolder {
 public:
  StagingFolder(DirectoryTree& tree, std::string prefix)
      : tree_(tree), prefix_(std::move(prefix)) {}
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  // Creates the folder "patch/<prefix><unique>"; false (Env::lastError()
  // says why) when it cannot, for instance when "patch" is a link.
  bool create();
  const std::string& path() const { return path_; }

 private:
  DirectoryTree& tree_;
  std::string prefix_;
  std::string path_;
};

// Removes what earlier runs left in "patch": staging folders and backup
// folders set aside by runs that were killed, files moved aside while in
// use (one still in use stays).  Only called while holding the
// installation lock, so no other run uses them.
void removeLeftoversOfEarlierRuns(DirectoryTree& tree);

// Writes `n` bytes to the new file `path` of `tree`; false when it cannot.
bool writeNewFile(DirectoryTree& tree, const std::string& path, const void* data, size_t n);

class FileReplacer {
 public:
  // `backupDir` is the package's backup folder, relative to the tree.  A
  // backup found there is kept (it holds the bytes from before an earlier,
  // interrupted run of the package).
  FileReplacer(DirectoryTree& tree, std::string backupDir)
      : tree_(tree), backupDir_(std::move(backupDir)) {}

  // Puts the staged file in place of the installation's file `path`,
  // keeping the file's bytes (or the link standing there, as a link) in
  // the backup folder first unless a backup of it is there already.  A
  // file in use that cannot be replaced but can be moved is moved into
  // "patch" first.  False (logged) when the file cannot be replaced; it is
  // then unchanged.
  bool replace(const std::string& path, const std::string& staged);

  // Undoes this object's replacements, latest first: a file that had a
  // backup gets it back, a file that did not exist before is removed, and
  // the folders made for them go again when they are empty.
  void restoreAll();

 private:
  struct Replaced {
    std::string path;
    bool existed;
  };

  bool backUp(const std::string& path);
  bool replaceInUse(const std::string& path, const std::string& staged);
  bool copyAside(const std::string& from, const std::string& to);
  bool putBack(const std::string& path);

  DirectoryTree& tree_;
  std::string backupDir_;
  std::vector<Replaced> replaced_;
  std::vector<std::string> madeDirectories_;
};

// Marks the package's backup folder as the backups of a run that completed
// (a marker beside the folder).
// A later run of the same package then starts fresh backups instead of
// keeping these (which only a run that was interrupted must do).
bool markBackupsCompleted(DirectoryTree& tree, const std::string& backupDir);

// When `backupDir` holds the backups of a completed run, sets them aside so
// that a new run of the package backs up afresh.  False (logged) when they
// cannot be set aside.
bool startFreshBackupsIfCompleted(DirectoryTree& tree, const std::string& backupDir);

}  // namespace ovix

#endif  // OVIX_UPDATE_FILE_REPLACEMENT_H_
