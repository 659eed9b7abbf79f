// A fresh directory for one test, removed with everything in it afterwards.

#ifndef OVIX_TESTING_TEMP_DIR_H_
#define OVIX_TESTING_TEMP_DIR_H_

#include <functional>
#include <string>
#include <vector>

namespace ovix::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path()/relative, with '/' separators.
  std::string file(const std::string& relative) const;

  // Writes `contents` to path()/relative, creating parent directories.
  std::string write(const std::string& relative, const std::string& contents) const;
  // The contents of path()/relative, "" when it cannot be read.
  std::string read(const std::string& relative) const;
  // Creates path()/relative and its parents.
  std::string mkdir(const std::string& relative) const;

 private:
  std::string path_;
  bool owned_ = true;  // false for a child's share of its parent's folder
};

// The names in the folder `dir`, sorted; none when it cannot be listed.
std::vector<std::string> namesIn(const std::string& dir);
// The lines of the run log temp/autoPatchLog.txt below `root`, each
// without its time stamp.
std::vector<std::string> runLogLines(const TempDir& root);

// Makes `link` a symbolic link whose target text is `target`; a link to a
// directory when `target` is one.  False where the system makes none
// (Windows without developer mode or administrator rights, Wine 8).
bool makeSymbolicLink(const std::string& target, const std::string& link);

// A child process that runChildren (project_server.h) starts on Windows
// runs its test again from the start; true in such a child.
bool isChildReplay();
// Outside such a child: make(), remembered for the children the current
// test starts.  Inside: the value the parent's test got from its call of
// the same order, so that parent and child name the same folders and
// databases.
std::string sharedWithChildren(const std::function<std::string()>& make);
// The values the current test has shared so far, one string for the
// children; starts a new test (the values are the current test's only).
std::string sharedValuesForChildren();
void startSharingForTest();

}  // namespace ovix::testing

#endif  // OVIX_TESTING_TEMP_DIR_H_
