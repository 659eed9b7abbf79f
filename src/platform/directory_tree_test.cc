// A directory tree never follows a link below its root, whatever the call;
// on Windows a junction counts as a link as much as a symbolic link does.

#include "platform/directory_tree.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>

#include "platform/utf16_windows.h"
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/env.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::DirectoryTree;
using ovix::EntryKind;
using ovix::LockAttempt;
using ovix::testing::makeSymbolicLink;
using ovix::testing::namesIn;
using ovix::testing::TempDir;

#ifdef _WIN32
// Makes `link` a junction to the directory `target`, as anyone may.
bool makeJunction(const std::string& target, const std::string& link) {
  auto quoted = [](std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return L"\"" + ovix::widen(path) + L"\"";
  };
  if (_wsystem((L"mklink /J " + quoted(link) + L" " + quoted(target) + L" >NUL 2>&1").c_str()))
    return false;
  DWORD attributes = GetFileAttributesW(ovix::widen(link).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

constexpr char kNoLinksHere[] =
    "this system makes no such link (Wine 8 has no reparse points; symbolic links on Windows "
    "need developer mode or administrator rights)";

std::unique_ptr<DirectoryTree> openTree(const std::string& root) {
  std::unique_ptr<DirectoryTree> tree;
  EXPECT_TRUE(ovix::Env::Default()->openTree(root, &tree)) << ovix::Env::lastError();
  return tree;
}

// root/linkdir is a folder link of the kind the parameter makes, to a
// folder outside; root/file.lnk a symbolic link to a file there (on
// Windows only where it can make one).  The tree is opened through a link
// of that kind to root: the root itself may be a link.
using MakeLink = bool (*)(const std::string& target, const std::string& link);
class DirectoryTreeTest : public ::testing::TestWithParam<MakeLink> {
 protected:
  void SetUp() override {
    outside_.write("f", "outside");
    root_.write("real/a", "a");
    bool linked = GetParam()(outside_.path(), root_.file("linkdir")) &&
                  GetParam()(root_.path(), holder_.file("root"));
    if (!linked && kWindows) GTEST_SKIP() << kNoLinksHere;
    ASSERT_TRUE(linked);
    fileLinked_ = makeSymbolicLink(outside_.file("f"), root_.file("file.lnk"));
#ifndef _WIN32
    ASSERT_TRUE(fileLinked_);
    ASSERT_EQ(mkfifo(root_.file("pipe").c_str(), 0644), 0);  // Windows keeps no pipes
#endif
    tree_ = openTree(holder_.file("root"));
    ASSERT_NE(tree_, nullptr);
  }

  TempDir root_, outside_, holder_;
  bool fileLinked_ = false;
  std::unique_ptr<DirectoryTree> tree_;
};

INSTANTIATE_TEST_SUITE_P(SymbolicLink, DirectoryTreeTest, ::testing::Values(&makeSymbolicLink));
#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(Junction, DirectoryTreeTest, ::testing::Values(&makeJunction));
#endif

TEST_P(DirectoryTreeTest, EveryCallRefusesALinkOnTheWay) {
  std::unique_ptr<ovix::WritableFile> out;
  std::unique_ptr<ovix::SequentialFile> in;
  std::unique_ptr<ovix::TreeLock> lock;
  std::vector<std::string> names;
  auto locks = [&](const char* path) { return tree_->tryLock(path, &lock) != LockAttempt::kFailed; };
  struct Case {
    const char* name;
    std::function<bool()> call;
  };
  std::vector<Case> cases = {
      {"create below a folder link", [&] { return tree_->createFile("linkdir/x", &out); }},
      {"make folders below a link", [&] { return tree_->createDirectories("linkdir/a/b", nullptr); }},
      {"read below a folder link", [&] { return tree_->openForReading("linkdir/f", &in); }},
      {"read a folder", [&] { return tree_->openForReading("real", &in); }},
      {"rename into a folder link", [&] { return tree_->rename("real/a", "linkdir/a"); }},
      {"link into a folder link", [&] { return tree_->hardLink("real/a", "linkdir/a"); }},
      {"remove below a folder link", [&] { return tree_->removeFile("linkdir/f"); }},
      {"remove a folder link as a folder", [&] { return tree_->removeDirectory("linkdir"); }},
      {"list a folder link", [&] { return tree_->list("linkdir", &names); }},
      {"lock below a folder link", [&] { return locks("linkdir/lock"); }},
      {"a path that climbs out", [&] { return tree_->createFile("real/../../x", &out); }},
  };
  if (fileLinked_) {
    cases.push_back({"create at a file link", [&] { return tree_->createFile("file.lnk", &out); }});
    cases.push_back({"read a file link", [&] { return tree_->openForReading("file.lnk", &in); }});
    cases.push_back({"lock a file link", [&] { return locks("file.lnk"); }});
  }
  if (!kWindows) cases.push_back({"read a pipe", [&] { return tree_->openForReading("pipe", &in); }});
  for (const Case& c : cases) {
    EXPECT_FALSE(c.call()) << c.name;
    EXPECT_NE(ovix::Env::lastError(), "") << c.name;
  }
  EXPECT_EQ(tree_->kind("linkdir"), EntryKind::kLink);
  EXPECT_EQ(tree_->kind("linkdir/f"), EntryKind::kLink);
  ASSERT_TRUE(tree_->removeTree("linkdir")) << ovix::Env::lastError();  // the link alone
  EXPECT_EQ(tree_->kind("linkdir"), EntryKind::kMissing);
  EXPECT_EQ(namesIn(outside_.path()), std::vector<std::string>{"f"});
  EXPECT_EQ(outside_.read("f"), "outside");
  EXPECT_EQ(root_.read("real/a"), "a");
}

TEST_P(DirectoryTreeTest, LinksAreSeenKeptAndRemovedAsLinks) {
  if (!fileLinked_) GTEST_SKIP() << kNoLinksHere;
  EXPECT_EQ(tree_->kind("file.lnk"), EntryKind::kLink);
  EXPECT_EQ(tree_->kind("real"), EntryKind::kDirectory);
  if (!kWindows) { EXPECT_EQ(tree_->kind("pipe"), EntryKind::kOther); }
  EXPECT_EQ(tree_->kind("missing/x"), EntryKind::kMissing);
  uint64_t size = 0;
  EXPECT_EQ(tree_->kind("real/a", &size), EntryKind::kFile);
  EXPECT_EQ(size, 1u);

  ASSERT_TRUE(tree_->hardLink("file.lnk", "real/copy"));  // the link itself, not its target
  EXPECT_EQ(tree_->kind("real/copy"), EntryKind::kLink);
  std::string target, expected = outside_.file("f");
  if (kWindows) std::replace(expected.begin(), expected.end(), '/', '\\');
  ASSERT_TRUE(tree_->readLink("real/copy", &target));
  EXPECT_EQ(target, expected);
  ASSERT_TRUE(tree_->createLink(target, "real/again"));
  EXPECT_EQ(tree_->kind("real/again"), EntryKind::kLink);
  EXPECT_EQ(root_.read("real/again"), "outside");

  ASSERT_TRUE(GetParam()(outside_.path(), root_.file("real/inner")));
  ASSERT_TRUE(tree_->removeTree("real"));
  EXPECT_FALSE(fs::exists(root_.file("real")));
  EXPECT_EQ(namesIn(outside_.path()), std::vector<std::string>{"f"});
  EXPECT_TRUE(tree_->removeTree("real"));  // gone already
}

// Empty, "." and ".." components are refused everywhere; on Windows also
// ':' (it would reach an alternate data stream or a drive) and '\'.
TEST(DirectoryTreeNamesTest, NamesThatLeaveTheirFolderAreRefused) {
  TempDir root;
  root.write("f", "data");
  auto tree = openTree(root.path());
  std::vector<std::string> paths = {"", ".", "a//b", "a/./b", "a/", "../x", "/f"};
  if (kWindows) paths.insert(paths.end(), {"f:stream", "f::$DATA", "C:x", "C:\\x", "a\\b"});
  for (const std::string& path : paths) {
    std::unique_ptr<ovix::WritableFile> file;
    EXPECT_FALSE(tree->createFile(path, &file)) << path;
    EXPECT_NE(ovix::Env::lastError(), "") << path;
    EXPECT_FALSE(tree->createDirectories(path, nullptr)) << path;
    EXPECT_FALSE(tree->rename("f", path)) << path;
    EXPECT_EQ(tree->kind(path), EntryKind::kMissing) << path;
  }
  EXPECT_EQ(namesIn(root.path()), std::vector<std::string>{"f"});
  EXPECT_EQ(root.read("f"), "data");
  EXPECT_FALSE(ovix::Env::Default()->openTree(root.file("missing"), &tree));
}

// A lock is exclusive within its tree too; its holder text is replaced,
// stays readable while held and is emptied on release.
TEST(DirectoryTreeLockTest, ALockIsExclusiveAndItsTextStaysReadable) {
  TempDir root;
  auto tree = openTree(root.path());
  std::unique_ptr<ovix::TreeLock> held, other;
  ASSERT_EQ(tree->tryLock("update.lock", &held), LockAttempt::kLocked) << ovix::Env::lastError();
  ASSERT_TRUE(held->setHolderText("process 1 on host"));
  ASSERT_TRUE(held->setHolderText("process 2"));
  EXPECT_EQ(tree->tryLock("update.lock", &other), LockAttempt::kBusy);
  EXPECT_EQ(other, nullptr);
  std::string text;
  ASSERT_TRUE(ovix::readFileToString(*ovix::Env::Default(), root.file("update.lock"), &text))
      << ovix::Env::lastError();
  EXPECT_EQ(text, "process 2");
  held.reset();
  EXPECT_EQ(root.read("update.lock"), "");
}

// Paths beyond MAX_PATH on Windows; a file held open is moved aside and
// the new one renamed into its place, as a file in use is replaced.
TEST(DirectoryTreeDeepTest, DeepFilesAreReplacedRenamedSyncedAndRemoved) {
  TempDir root;
  auto tree = openTree(root.path());
  std::string deep = "stage";
  while (root.path().size() + deep.size() < 300) deep += "/a-rather-long-folder-name";
  ASSERT_TRUE(tree->createDirectories(deep, nullptr)) << ovix::Env::lastError();
  for (const char* name : {"/a.dll", "/new.dll"}) {
    std::unique_ptr<ovix::WritableFile> file;
    ASSERT_TRUE(tree->createFile(deep + name, &file)) << ovix::Env::lastError();
    ASSERT_TRUE(file->append(name, std::strlen(name)) && file->close());
  }
  std::unique_ptr<ovix::SequentialFile> running;
  ASSERT_TRUE(tree->openForReading(deep + "/a.dll", &running));
  ASSERT_TRUE(tree->rename(deep + "/a.dll", "stage/old.dll")) << ovix::Env::lastError();
  ASSERT_TRUE(tree->rename(deep + "/new.dll", deep + "/a.dll")) << ovix::Env::lastError();
  running.reset();
  ASSERT_TRUE(tree->removeFile("stage/old.dll"));
  // The created file moves with its folder and still syncs by its new name.
  ASSERT_TRUE(tree->rename("stage", "bin")) << ovix::Env::lastError();
  uint64_t size = 0;
  EXPECT_EQ(tree->kind("bin" + deep.substr(5) + "/a.dll", &size), EntryKind::kFile);
  EXPECT_EQ(size, 8u);  // "/new.dll"
  std::vector<std::string> names;
  ASSERT_TRUE(tree->list("bin" + deep.substr(5), &names)) << ovix::Env::lastError();
  EXPECT_EQ(names, std::vector<std::string>{"a.dll"});
  EXPECT_TRUE(tree->syncAll()) << ovix::Env::lastError();
  EXPECT_TRUE(tree->syncDirectory("bin")) << ovix::Env::lastError();
  ASSERT_TRUE(tree->removeTree("bin")) << ovix::Env::lastError();
  EXPECT_EQ(namesIn(root.path()), std::vector<std::string>{});
}

}  // namespace
