// Backups and their restore through the copy that serves where hard links
// cannot be made: a file is copied, a link stays a link.

#include "update/file_replacement.h"

#include <gtest/gtest.h>

#include <filesystem>

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
  fs::create_symlink(outside.file("secret"), root.file("l.dll"));
  root.write("patch/K/kept.dll", "earliest");
  root.write("kept.dll", "later");
  std::unique_ptr<ovix::DirectoryTree> real;
  ASSERT_TRUE(ovix::Env::Default()->openTree(root.path(), &real));
  NoHardLinks tree(std::move(real));
  ovix::testing::ScopedRecorder quiet;

  ovix::FileReplacer replacer(tree, "patch/K");
  for (const std::string path : {"a.dll", "l.dll", "kept.dll", "sub/dir/new.dll"}) {
    root.write("stage/" + path, path);
    ASSERT_TRUE(replacer.replace(path, "stage/" + path));
  }
  EXPECT_EQ(root.read("patch/K/a.dll"), "old a");
  EXPECT_TRUE(fs::is_symlink(root.file("patch/K/l.dll")));
  EXPECT_EQ(root.read("patch/K/kept.dll"), "earliest");
  EXPECT_EQ(root.read("l.dll"), "l.dll");

  replacer.restoreAll();
  EXPECT_EQ(root.read("a.dll"), "old a");
  ASSERT_TRUE(fs::is_symlink(root.file("l.dll")));
  EXPECT_EQ(fs::read_symlink(root.file("l.dll")), outside.file("secret"));
  EXPECT_EQ(root.read("kept.dll"), "earliest");  // the bytes from before the first run
  EXPECT_FALSE(fs::exists(root.file("sub")));
  EXPECT_EQ(outside.read("secret"), "root only");
}

}  // namespace
