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
  for (const char* staged : {"s1", "s2", "s3", "s4"}) root.write(std::string("stage/") + staged, staged);
  std::unique_ptr<ovix::DirectoryTree> real;
  ASSERT_TRUE(ovix::Env::Default()->openTree(root.path(), &real));
  NoHardLinks tree(std::move(real));
  ovix::testing::ScopedRecorder quiet;

  ovix::FileReplacer replacer(tree, "patch/K");
  ASSERT_TRUE(replacer.replace("a.dll", "stage/s1"));
  ASSERT_TRUE(replacer.replace("l.dll", "stage/s2"));
  ASSERT_TRUE(replacer.replace("kept.dll", "stage/s3"));
  ASSERT_TRUE(replacer.replace("sub/dir/new.dll", "stage/s4"));
  EXPECT_EQ(root.read("patch/K/a.dll"), "old a");
  EXPECT_TRUE(fs::is_symlink(root.file("patch/K/l.dll")));
  EXPECT_EQ(root.read("patch/K/kept.dll"), "earliest");
  EXPECT_EQ(root.read("l.dll"), "s2");

  replacer.restoreAll();
  EXPECT_EQ(root.read("a.dll"), "old a");
  ASSERT_TRUE(fs::is_symlink(root.file("l.dll")));
  EXPECT_EQ(fs::read_symlink(root.file("l.dll")), outside.file("secret"));
  EXPECT_EQ(root.read("kept.dll"), "earliest");  // the bytes from before the first run
  EXPECT_FALSE(fs::exists(root.file("sub")));
  EXPECT_EQ(outside.read("secret"), "root only");
}

}  // namespace
