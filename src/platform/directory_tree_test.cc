// A directory tree never follows a link below its root, whatever the call.

#include "platform/directory_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/env.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::DirectoryTree;
using ovix::EntryKind;
using ovix::testing::TempDir;

class DirectoryTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    outside_.write("f", "outside");
    root_.write("real/a", "a");
    fs::create_directory_symlink(outside_.path(), root_.file("linkdir"));
    fs::create_symlink(outside_.file("f"), root_.file("file.lnk"));
    ASSERT_EQ(mkfifo(root_.file("pipe").c_str(), 0644), 0);
    ASSERT_TRUE(ovix::Env::Default()->openTree(root_.path(), &tree_));
  }

  std::vector<std::string> outsideNames() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(outside_.path())) names.push_back(e.path().filename());
    return names;
  }

  TempDir root_, outside_;
  std::unique_ptr<DirectoryTree> tree_;
};

TEST_F(DirectoryTreeTest, EveryCallRefusesALinkOnTheWay) {
  std::unique_ptr<ovix::WritableFile> out;
  std::unique_ptr<ovix::SequentialFile> in;
  std::unique_ptr<ovix::TreeLock> lock;
  struct Case {
    const char* name;
    std::function<bool()> call;
  } cases[] = {
      {"create below a folder link", [&] { return tree_->createFile("linkdir/x", &out); }},
      {"create at a file link", [&] { return tree_->createFile("file.lnk", &out); }},
      {"make folders below a link", [&] { return tree_->createDirectories("linkdir/a/b", nullptr); }},
      {"read a file link", [&] { return tree_->openForReading("file.lnk", &in); }},
      {"read below a folder link", [&] { return tree_->openForReading("linkdir/f", &in); }},
      {"read a pipe", [&] { return tree_->openForReading("pipe", &in); }},
      {"rename into a folder link", [&] { return tree_->rename("real/a", "linkdir/a"); }},
      {"link into a folder link", [&] { return tree_->hardLink("real/a", "linkdir/a"); }},
      {"remove below a folder link", [&] { return tree_->removeFile("linkdir/f"); }},
      {"lock below a folder link",
       [&] { return tree_->tryLock("linkdir/lock", &lock) != ovix::LockAttempt::kFailed; }},
      {"lock a file link",
       [&] { return tree_->tryLock("file.lnk", &lock) != ovix::LockAttempt::kFailed; }},
      {"a path that climbs out", [&] { return tree_->createFile("real/../../x", &out); }},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.call()) << c.name;
    EXPECT_NE(ovix::Env::lastError(), "") << c.name;
  }
  EXPECT_EQ(outsideNames(), std::vector<std::string>{"f"});
  EXPECT_EQ(outside_.read("f"), "outside");
  EXPECT_EQ(root_.read("real/a"), "a");
}

TEST_F(DirectoryTreeTest, LinksAreSeenKeptAndRemovedAsLinks) {
  EXPECT_EQ(tree_->kind("file.lnk"), EntryKind::kLink);
  EXPECT_EQ(tree_->kind("linkdir/f"), EntryKind::kLink);
  EXPECT_EQ(tree_->kind("real"), EntryKind::kDirectory);
  EXPECT_EQ(tree_->kind("pipe"), EntryKind::kOther);
  EXPECT_EQ(tree_->kind("missing/x"), EntryKind::kMissing);
  uint64_t size = 0;
  EXPECT_EQ(tree_->kind("real/a", &size), EntryKind::kFile);
  EXPECT_EQ(size, 1u);

  ASSERT_TRUE(tree_->hardLink("file.lnk", "real/copy"));  // the link itself, not its target
  EXPECT_TRUE(fs::is_symlink(root_.file("real/copy")));
  std::string target;
  ASSERT_TRUE(tree_->readLink("real/copy", &target));
  ASSERT_TRUE(tree_->createLink(target, "real/again"));
  EXPECT_EQ(fs::read_symlink(root_.file("real/again")), outside_.file("f"));

  fs::create_directory_symlink(outside_.path(), root_.file("real/inner"));
  ASSERT_TRUE(tree_->removeTree("real"));
  EXPECT_FALSE(fs::exists(root_.file("real")));
  EXPECT_EQ(outsideNames(), std::vector<std::string>{"f"});
  EXPECT_TRUE(tree_->removeTree("real"));  // gone already
}

TEST(DirectoryTreeRootTest, TheRootItselfMayBeALink) {
  TempDir real, holder;
  fs::create_directory_symlink(real.path(), holder.file("root"));
  std::unique_ptr<DirectoryTree> tree;
  ASSERT_TRUE(ovix::Env::Default()->openTree(holder.file("root"), &tree));
  std::vector<std::string> made;
  ASSERT_TRUE(tree->createDirectories("a/b", &made));
  EXPECT_EQ(made, (std::vector<std::string>{"a", "a/b"}));
  EXPECT_TRUE(fs::is_directory(real.file("a/b")));
  EXPECT_FALSE(ovix::Env::Default()->openTree(holder.file("missing"), &tree));
}

}  // namespace
