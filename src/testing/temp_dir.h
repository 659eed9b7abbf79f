// A fresh directory for one test, removed with everything in it afterwards.

#ifndef OVIX_TESTING_TEMP_DIR_H_
#define OVIX_TESTING_TEMP_DIR_H_

#include <string>

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
};

// Makes `link` a symbolic link whose target text is `target`; a link to a
// directory when `target` is one.  False where the system makes none
// (Windows without developer mode or administrator rights, Wine 8).
bool makeSymbolicLink(const std::string& target, const std::string& link);

}  // namespace ovix::testing

#endif  // OVIX_TESTING_TEMP_DIR_H_
