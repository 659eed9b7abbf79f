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

// A tree on a file system without hard links (`noHardLinks`), or one that
// refuses what Windows refuses for the file `inUse` while it runs: replacing
// or removing it.  Moving it away is allowed.
class FaultyTree : public ovix::DirectoryTreeWrapper {
 public:
  FaultyTree(std::unique_ptr<ovix::DirectoryTree> real, bool noHardLinks, std::string inUse)
      : DirectoryTreeWrapper(std::move(real)),
        noHardLinks_(noHardLinks),
        inUse_(std::move(inUse)) {}
  bool hardLink(const std::string& from, const std::string& to) override {
    return noHardLinks_ ? refuse("link " + to + ": Operation not permitted")
                        : DirectoryTreeWrapper::hardLink(from, to);
  }
  bool rename(const std::string& from, const std::string& to) override {
    if (to == inUse_) return refuse("rename " + to + ": in use");
    if (from == inUse_) inUse_ = to;
    return DirectoryTreeWrapper::rename(from, to);
  }
  bool removeFile(const std::string& path) override {
    return path == inUse_ ? refuse("remove " + path + ": in use")
                          : DirectoryTreeWrapper::removeFile(path);
  }
  bool removeTree(const std::string& path) override {
    return path == inUse_ ? refuse("remove " + path + ": in use")
                          : DirectoryTreeWrapper::removeTree(path);
  }
  void release() { inUse_.clear(); }

 private:
  static bool refuse(const std::string& why) {
    ovix::setLastError(why + " (injected)");
    return false;
  }
  bool noHardLinks_;
  std::string inUse_;
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
  FaultyTree tree(std::move(real), true, "");
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

TEST(FileReplacementTest, AFileInUseIsMovedAsideReplacedAndRemovedByALaterRun) {
  TempDir root;
  root.write("bin/OvixDesign.exe", "old program");
  root.write("stage/OvixDesign.exe", "new program");
  std::unique_ptr<ovix::DirectoryTree> real;
  ASSERT_TRUE(ovix::Env::Default()->openTree(root.path(), &real));
#ifdef _WIN32  // the file is really in use
  FaultyTree tree(std::move(real), false, "");
#else
  FaultyTree tree(std::move(real), false, "bin/OvixDesign.exe");
#endif
  ovix::testing::ScopedRecorder quiet;
  auto leftovers = [&] {
    return std::ranges::count_if(ovix::testing::namesIn(root.file("patch")),
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
  tree.release();
  ovix::removeLeftoversOfEarlierRuns(tree);
  EXPECT_EQ(leftovers(), 0);
  EXPECT_EQ(root.read("bin/OvixDesign.exe"), "new program");
}

}  // namespace
