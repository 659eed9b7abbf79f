// Backups and their restore through the copy that serves where hard links
// cannot be made (a file is copied, a link stays a link), and replacing a
// file that is in use.

#include "update/file_replacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include "platform/utf16_windows.h"
#endif

#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::TempDir;

// A tree on a file system without hard links.
class NoHardLinks : public ovix::DirectoryTreeWrapper {
 public:
  using DirectoryTreeWrapper::DirectoryTreeWrapper;
  bool hardLink(const std::string&, const std::string& to) override {
    ovix::setLastError("link " + to + ": Operation not permitted (injected)");
    return false;
  }
};

TEST(FileReplacementTest, WithoutHardLinksBackupsAreCopiesAndLinksStayLinks) {
  TempDir root, outside;
  outside.write("secret", "root only");
  root.write("a.dll", "old a");
  // Where the system makes no links (Wine), the files alone are checked.
  const bool links = ovix::testing::makeSymbolicLink(outside.file("secret"), root.file("l.dll"));
  root.write("patch/K/kept.dll", "earliest");
  root.write("kept.dll", "later");
  std::unique_ptr<ovix::DirectoryTree> real;
  ASSERT_TRUE(ovix::Env::Default()->openTree(root.path(), &real));
  NoHardLinks tree(std::move(real));
  ovix::testing::ScopedRecorder quiet;

  ovix::FileReplacer replacer(tree, "patch/K");
  for (const std::string path : {"a.dll", "l.dll", "kept.dll", "sub/dir/new.dll"}) {
    if (path == "l.dll" && !links) continue;
    root.write("stage/" + path, path);
    ASSERT_TRUE(replacer.replace(path, "stage/" + path));
  }
  EXPECT_EQ(root.read("patch/K/a.dll"), "old a");
  EXPECT_EQ(root.read("patch/K/kept.dll"), "earliest");
  if (links) {
    EXPECT_TRUE(fs::is_symlink(root.file("patch/K/l.dll")));
    EXPECT_EQ(root.read("l.dll"), "l.dll");
  }

  replacer.restoreAll();
  EXPECT_EQ(root.read("a.dll"), "old a");
  if (links) {
    ASSERT_TRUE(fs::is_symlink(root.file("l.dll")));
    EXPECT_EQ(fs::read_symlink(root.file("l.dll")), outside.file("secret"));
  }
  EXPECT_EQ(root.read("kept.dll"), "earliest");  // the bytes from before the first run
  EXPECT_FALSE(fs::exists(root.file("sub")));
  EXPECT_EQ(outside.read("secret"), "root only");
}

// Holds a file open the way a running program holds its own file: others
// may read and move it, nobody may replace it.
class InUse {
 public:
#ifdef _WIN32
  explicit InUse(const std::string& path)
      : handle_(CreateFileW(ovix::widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {}
  ~InUse() { CloseHandle(handle_); }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
#else
  explicit InUse(const std::string&) {}
  bool held() const { return true; }
#endif
};

// Elsewhere, a tree that refuses what Windows refuses for a file in use:
// replacing or removing it.  Moving it away is allowed.
class RefusesFileInUse : public ovix::DirectoryTreeWrapper {
 public:
  RefusesFileInUse(std::unique_ptr<ovix::DirectoryTree> real, std::string inUse)
      : DirectoryTreeWrapper(std::move(real)), path_(std::move(inUse)) {}
  bool rename(const std::string& from, const std::string& to) override {
    if (to == path_) return refuse(to);
    if (from == path_) path_ = to;
    return DirectoryTreeWrapper::rename(from, to);
  }
  bool removeFile(const std::string& path) override {
    return path == path_ ? refuse(path) : DirectoryTreeWrapper::removeFile(path);
  }
  bool removeTree(const std::string& path) override {
    return path == path_ ? refuse(path) : DirectoryTreeWrapper::removeTree(path);
  }
  void release() { path_.clear(); }

 private:
  static bool refuse(const std::string& path) {
    ovix::setLastError("rename " + path + ": in use (injected)");
    return false;
  }
  std::string path_;
};

TEST(FileReplacementTest, AFileInUseIsMovedAsideReplacedAndRemovedByALaterRun) {
  TempDir root;
  root.write("bin/OvixDesign.exe", "old program");
  root.write("stage/OvixDesign.exe", "new program");
  std::unique_ptr<ovix::DirectoryTree> real;
  ASSERT_TRUE(ovix::Env::Default()->openTree(root.path(), &real));
#ifdef _WIN32
  ovix::DirectoryTree& tree = *real;
#else
  RefusesFileInUse tree(std::move(real), "bin/OvixDesign.exe");
#endif
  ovix::testing::ScopedRecorder quiet;
  auto leftovers = [&] {
    std::vector<std::string> names;
    tree.list("patch", &names);
    return std::count_if(names.begin(), names.end(),
                         [](const std::string& n) { return n.starts_with(".in-use-"); });
  };

  {
    InUse running(root.file("bin/OvixDesign.exe"));
    ASSERT_TRUE(running.held());
    ovix::FileReplacer replacer(tree, "patch/K");
    ASSERT_TRUE(replacer.replace("bin/OvixDesign.exe", "stage/OvixDesign.exe"))
        << ovix::Env::lastError();
    EXPECT_EQ(root.read("bin/OvixDesign.exe"), "new program");
    EXPECT_EQ(root.read("patch/K/bin/OvixDesign.exe"), "old program");
    EXPECT_EQ(leftovers(), 1) << "the file in use cannot go yet";
    ovix::removeLeftoversOfEarlierRuns(tree);
    EXPECT_EQ(leftovers(), 1);
  }
#ifndef _WIN32
  tree.release();
#endif
  ovix::removeLeftoversOfEarlierRuns(tree);
  EXPECT_EQ(leftovers(), 0);
  EXPECT_EQ(root.read("bin/OvixDesign.exe"), "new program");
}

}  // namespace
