// A directory tree never follows a link below its root, whatever the call.

#include "platform/directory_tree.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/env.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::DirectoryTree;
using ovix::EntryKind;
using ovix::testing::makeSymbolicLink;
using ovix::testing::TempDir;

constexpr char kNoLinksHere[] =
    "this system makes no symbolic links (Wine 8 has no reparse points; Windows needs "
    "developer mode or administrator rights)";

// `path` with the separators a link's target text has on this system.
std::string nativeSeparators(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

class DirectoryTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    outside_.write("f", "outside");
    root_.write("real/a", "a");
    bool linked = makeSymbolicLink(outside_.path(), root_.file("linkdir"));
#ifdef _WIN32
    if (!linked) GTEST_SKIP() << kNoLinksHere;
#else
    // Windows keeps no pipes among files.
    ASSERT_EQ(mkfifo(root_.file("pipe").c_str(), 0644), 0);
#endif
    ASSERT_TRUE(linked);
    ASSERT_TRUE(makeSymbolicLink(outside_.file("f"), root_.file("file.lnk")));
    ASSERT_TRUE(ovix::Env::Default()->openTree(root_.path(), &tree_));
  }

  std::vector<std::string> outsideNames() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(outside_.path())) names.push_back(e.path().filename().string());
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
  };
  std::vector<Case> cases = {
      {"create below a folder link", [&] { return tree_->createFile("linkdir/x", &out); }},
      {"create at a file link", [&] { return tree_->createFile("file.lnk", &out); }},
      {"make folders below a link", [&] { return tree_->createDirectories("linkdir/a/b", nullptr); }},
      {"read a file link", [&] { return tree_->openForReading("file.lnk", &in); }},
      {"read below a folder link", [&] { return tree_->openForReading("linkdir/f", &in); }},
      {"read a folder", [&] { return tree_->openForReading("real", &in); }},
      {"rename into a folder link", [&] { return tree_->rename("real/a", "linkdir/a"); }},
      {"link into a folder link", [&] { return tree_->hardLink("real/a", "linkdir/a"); }},
      {"remove below a folder link", [&] { return tree_->removeFile("linkdir/f"); }},
      {"lock below a folder link",
       [&] { return tree_->tryLock("linkdir/lock", &lock) != ovix::LockAttempt::kFailed; }},
      {"lock a file link",
       [&] { return tree_->tryLock("file.lnk", &lock) != ovix::LockAttempt::kFailed; }},
      {"a path that climbs out", [&] { return tree_->createFile("real/../../x", &out); }},
  };
#ifndef _WIN32
  cases.push_back({"read a pipe", [&] { return tree_->openForReading("pipe", &in); }});
#endif
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
#ifndef _WIN32
  EXPECT_EQ(tree_->kind("pipe"), EntryKind::kOther);
#endif
  EXPECT_EQ(tree_->kind("missing/x"), EntryKind::kMissing);
  uint64_t size = 0;
  EXPECT_EQ(tree_->kind("real/a", &size), EntryKind::kFile);
  EXPECT_EQ(size, 1u);

  ASSERT_TRUE(tree_->hardLink("file.lnk", "real/copy"));  // the link itself, not its target
  EXPECT_EQ(tree_->kind("real/copy"), EntryKind::kLink);
  std::string target;
  ASSERT_TRUE(tree_->readLink("real/copy", &target));
  EXPECT_EQ(target, nativeSeparators(outside_.file("f")));
  ASSERT_TRUE(tree_->createLink(target, "real/again"));
  EXPECT_EQ(tree_->kind("real/again"), EntryKind::kLink);
  std::unique_ptr<ovix::SequentialFile> viaLink;
  ASSERT_TRUE(ovix::Env::Default()->newSequentialFile(root_.file("real/again"), &viaLink));
  char byte = 0;
  size_t got = 0;
  ASSERT_TRUE(viaLink->read(&byte, 1, &got));
  EXPECT_EQ(byte, 'o');  // of "outside"
  viaLink.reset();

  ASSERT_TRUE(makeSymbolicLink(outside_.path(), root_.file("real/inner")));
  ASSERT_TRUE(tree_->removeTree("real"));
  EXPECT_FALSE(fs::exists(root_.file("real")));
  EXPECT_EQ(outsideNames(), std::vector<std::string>{"f"});
  EXPECT_TRUE(tree_->removeTree("real"));  // gone already
}

TEST(DirectoryTreeRootTest, TheRootItselfMayBeALink) {
  TempDir real, holder;
  bool linked = makeSymbolicLink(real.path(), holder.file("root"));
#ifdef _WIN32
  if (!linked) GTEST_SKIP() << kNoLinksHere;
#endif
  ASSERT_TRUE(linked);
  std::unique_ptr<DirectoryTree> tree;
  ASSERT_TRUE(ovix::Env::Default()->openTree(holder.file("root"), &tree));
  std::vector<std::string> made;
  ASSERT_TRUE(tree->createDirectories("a/b", &made));
  EXPECT_EQ(made, (std::vector<std::string>{"a", "a/b"}));
  EXPECT_TRUE(fs::is_directory(real.file("a/b")));
  EXPECT_FALSE(ovix::Env::Default()->openTree(holder.file("missing"), &tree));
}

}  // namespace
