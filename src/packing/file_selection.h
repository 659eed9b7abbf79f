// Which files of a source tree a package takes, and in which order: the
// comparison keys, list files, the filter built from the pack dialog's
// fields, and the tree walk.

#ifndef OVIX_PACKING_FILE_SELECTION_H_
#define OVIX_PACKING_FILE_SELECTION_H_

#include <set>
#include <string>
#include <vector>

#include "platform/env.h"

namespace ovix {

// The package kinds.
inline constexpr char kKindSoftwarePatch[] = "DLL";
inline constexpr char kKindProjectPatch[] = "CONFIG";
inline constexpr char kKindInstallation[] = "INSTALL";

// File names of the forbidden lists in the program directory.
inline constexpr char kForbiddenListSoftware[] = "不允许加入补丁的文件-安装补丁.csv";
inline constexpr char kForbiddenListProject[] = "不允许加入补丁的文件-项目补丁.csv";

// The project database files of a project directory, relative to it.
extern const char* const kProjectDatabaseNames[26];

// The comparison key of a relative path: letters upper-cased (ASCII and
// every other cased letter), characters without case kept.
std::string toUpperKey(const std::string& text);

// Appends the lines of a list file to `entries`, each without its line
// terminator (a line longer than 1023 bytes gives several entries).  False
// when the path is empty or the file cannot be read; else true when at
// least one line was read.
bool readListFile(Env& env, const std::string& path, std::vector<std::string>& entries);

// A name that the pack dialog's fields would have read as a list file of
// the user folder although it is not one file name there (it holds '/' or
// '\', or is "." or ".."), so that it could reach a file outside the
// folder; "" when there is none.  A file-type text that is not one file
// name is never a comma list of types, so it counts as such a name; a
// sub-directory text counts only when it names an existing file, since it
// is otherwise the directory where the walk starts.
std::string listFileNameOutsideUserFolder(Env& env, const std::string& user,
                                          const std::string& subdirText,
                                          const std::string& typeText);

class PackFileFilter {
 public:
  // Loads the sets from the user folder of `user` (the program directory
  // itself for an empty user) and the program directory.  Never fails;
  // missing files leave their sets empty, and a list-file name that is not
  // one file name of the user folder is not read.
  PackFileFilter(Env& env, const std::string& user, const std::string& subdirText,
                 const std::string& typeText, bool projectMode);

  bool acceptDirectory(const std::string& relativeDirectory) const;
  bool acceptFile(const std::string& relativeDirectory, const std::string& name) const;
  bool isProjectDatabase(const std::string& relativePath) const;

  // True when the sub-directory field named an exclusion list that loaded.
  bool hasExclusionList() const { return exclusionList_; }
  bool projectMode() const { return projectMode_; }
  const std::vector<std::string>& extensions() const { return extensions_; }
  bool hasFileList() const { return !fileList_.empty(); }

 private:
  // Enters the entries of the list file `path` after its header line,
  // '/' in them read as '\'.
  static void loadKeys(Env& env, const std::string& path, std::set<std::string>* keys);

  std::vector<std::string> extensions_;
  std::set<std::string> forbidden_;
  std::set<std::string> excludedDirectories_;
  std::set<std::string> fileList_;
  std::set<std::string> projectDatabases_;
  bool projectMode_ = false;
  bool exclusionList_ = false;
};

// Appends to `result` the relative paths (backslash-separated, case as on
// disk) of the files below `root` that `filter` accepts, starting in
// `startDirectory` (relative to the root; empty for the root), depth first,
// each directory's entries in name order.  Nothing outside the tree is
// read: a start directory with a ".." component gives nothing, links to
// directories are not entered, and a link to a file is taken only when
// its target lies inside the tree; the links left out are appended to
// *skippedLinks (when given).  A filter may be null (every file).
void collectFiles(Env& env, const std::string& root, const std::string& startDirectory,
                  const PackFileFilter* filter, std::vector<std::string>& result,
                  std::vector<std::string>* skippedLinks = nullptr);

// `startDirectory` as collectFiles walks it: backslash-separated, without
// separators around it.
std::string normalStartDirectory(const std::string& startDirectory);

}  // namespace ovix

#endif  // OVIX_PACKING_FILE_SELECTION_H_
