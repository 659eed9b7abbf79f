// What a directory tree must do on Windows beyond the shared tests: refuse
// names that reach a stream or a drive, stop at junctions, lock between
// trees while the holder text stays readable, work beyond MAX_PATH.
#ifdef _WIN32

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/directory_tree.h"
#include "platform/env.h"
#include "platform/utf16_windows.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::DirectoryTree;
using ovix::EntryKind;
using ovix::LockAttempt;
using ovix::testing::TempDir;

std::unique_ptr<DirectoryTree> openTree(const std::string& root) {
  std::unique_ptr<DirectoryTree> tree;
  EXPECT_TRUE(ovix::Env::Default()->openTree(root, &tree)) << ovix::Env::lastError();
  return tree;
}

std::vector<std::string> namesIn(DirectoryTree& tree, const std::string& path) {
  std::vector<std::string> names;
  EXPECT_TRUE(tree.list(path, &names)) << ovix::Env::lastError();
  std::sort(names.begin(), names.end());
  return names;
}

bool writeNew(DirectoryTree& tree, const std::string& path, const std::string& text) {
  std::unique_ptr<ovix::WritableFile> file;
  return tree.createFile(path, &file) && file->append(text.data(), text.size()) &&
         file->close();
}

std::wstring backslashed(const std::string& path) {
  std::wstring wide = ovix::widen(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

// Makes `link` a junction to the absolute directory `target`, as
// FSCTL_SET_REPARSE_POINT does it for mount points: a header, four name
// offsets, then the NT name and the printed name, each null-terminated.
bool makeJunction(const std::string& target, const std::string& link) {
  std::wstring print = backslashed(target);
  std::wstring substitute = L"\\??\\" + print;
  if (!CreateDirectoryW(backslashed(link).c_str(), nullptr)) return false;
  HANDLE dir = CreateFileW(backslashed(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return false;
  const WORD substituteBytes = static_cast<WORD>(substitute.size() * 2);
  const WORD printBytes = static_cast<WORD>(print.size() * 2);
  const WORD names[4] = {0, substituteBytes, static_cast<WORD>(substituteBytes + 2), printBytes};
  std::string data(8 + sizeof names + substituteBytes + printBytes + 4, '\0');
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  const WORD length = static_cast<WORD>(data.size() - 8);
  std::memcpy(&data[0], &tag, 4);
  std::memcpy(&data[4], &length, 2);
  std::memcpy(&data[8], names, sizeof names);
  std::memcpy(&data[16], substitute.data(), substituteBytes);
  std::memcpy(&data[16 + substituteBytes + 2], print.data(), printBytes);
  DWORD ignored = 0;
  bool made = DeviceIoControl(dir, FSCTL_SET_REPARSE_POINT, data.data(),
                              static_cast<DWORD>(data.size()), nullptr, 0, &ignored, nullptr);
  CloseHandle(dir);
  DWORD attributes = GetFileAttributesW(backslashed(link).c_str());
  made = made && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (!made) RemoveDirectoryW(backslashed(link).c_str());
  return made;
}

// ':' would reach an alternate data stream or a drive, '\' another folder.
TEST(WindowsDirectoryTreeTest, NamesThatLeaveTheirFolderAreRefused) {
  TempDir root;
  root.write("f", "data");
  auto tree = openTree(root.path());
  const char* paths[] = {"f:stream", "f::$DATA", "C:x", "C:\\x", "a\\b", "f\\..\\..\\x",
                         "",         ".",        "a//b", "a/./b", "a/",  "../x"};
  for (const char* path : paths) {
    std::unique_ptr<ovix::WritableFile> file;
    EXPECT_FALSE(tree->createFile(path, &file)) << path;
    EXPECT_NE(ovix::Env::lastError(), "") << path;
    EXPECT_FALSE(tree->createDirectories(path, nullptr)) << path;
    EXPECT_FALSE(tree->rename("f", path)) << path;
    EXPECT_EQ(tree->kind(path), EntryKind::kMissing) << path;
  }
  EXPECT_EQ(namesIn(*tree, ""), std::vector<std::string>{"f"});
  EXPECT_EQ(root.read("f"), "data");
}

TEST(WindowsDirectoryTreeTest, AJunctionOnTheWayIsNeverWrittenThrough) {
  TempDir root, outside;
  outside.write("f", "outside");
  root.write("real/a", "a");
  if (!makeJunction(fs::path(outside.path()).make_preferred().string(), root.file("bin")))
    GTEST_SKIP() << "this system makes no junctions (Wine 8 has no reparse points)";
  auto tree = openTree(root.path());
  std::unique_ptr<ovix::WritableFile> out;
  std::unique_ptr<ovix::SequentialFile> in;
  std::unique_ptr<ovix::TreeLock> lock;
  EXPECT_EQ(tree->kind("bin"), EntryKind::kLink);
  EXPECT_EQ(tree->kind("bin/f"), EntryKind::kLink);
  EXPECT_FALSE(tree->createFile("bin/x", &out));
  EXPECT_FALSE(tree->openForReading("bin/f", &in));
  EXPECT_FALSE(tree->createDirectories("bin/a", nullptr));
  EXPECT_FALSE(tree->rename("real/a", "bin/f"));
  EXPECT_FALSE(tree->removeFile("bin/f"));
  EXPECT_FALSE(tree->removeDirectory("bin"));
  EXPECT_NE(tree->tryLock("bin/lock", &lock), LockAttempt::kLocked);
  std::vector<std::string> names;
  EXPECT_FALSE(tree->list("bin", &names));
  ASSERT_TRUE(tree->removeTree("bin")) << ovix::Env::lastError();  // the junction alone
  EXPECT_EQ(tree->kind("bin"), EntryKind::kMissing);
  EXPECT_EQ(outside.read("f"), "outside");
  EXPECT_EQ(root.read("real/a"), "a");
}

TEST(WindowsDirectoryTreeTest, ALockIsExclusiveAcrossTreesAndItsTextStaysReadable) {
  TempDir root;
  auto first = openTree(root.path());
  auto second = openTree(root.path());
  std::unique_ptr<ovix::TreeLock> held, other;
  ASSERT_EQ(first->tryLock("update.lock", &held), LockAttempt::kLocked) << ovix::Env::lastError();
  ASSERT_TRUE(held->setHolderText("process 1 on host"));
  ASSERT_TRUE(held->setHolderText("process 2"));  // replaces, never appends
  EXPECT_EQ(second->tryLock("update.lock", &other), LockAttempt::kBusy);
  EXPECT_EQ(first->tryLock("update.lock", &other), LockAttempt::kBusy);
  EXPECT_EQ(other, nullptr);
  std::string text;
  ASSERT_TRUE(ovix::readFileToString(*ovix::Env::Default(), root.file("update.lock"), &text))
      << ovix::Env::lastError();
  EXPECT_EQ(text, "process 2");
  held.reset();
  EXPECT_EQ(root.read("update.lock"), "");
  EXPECT_EQ(second->tryLock("update.lock", &other), LockAttempt::kLocked);
}

TEST(WindowsDirectoryTreeTest, DeepPathsAreWrittenRenamedSyncedAndRemoved) {
  TempDir root;
  auto tree = openTree(root.path());
  std::string deep = "stage";
  while (root.path().size() + deep.size() < 300) deep += "/a-rather-long-folder-name";
  std::vector<std::string> made;
  ASSERT_TRUE(tree->createDirectories(deep, &made)) << ovix::Env::lastError();
  EXPECT_EQ(made.front(), "stage");
  EXPECT_EQ(made.back(), deep);
  ASSERT_TRUE(writeNew(*tree, deep + "/a.dll", "bytes")) << ovix::Env::lastError();
  ASSERT_TRUE(writeNew(*tree, "stage/gone.txt", "x"));
  ASSERT_TRUE(tree->removeFile("stage/gone.txt"));
  // The created file moves with its folder and still syncs by its new name.
  ASSERT_TRUE(tree->rename("stage", "bin")) << ovix::Env::lastError();
  const std::string moved = "bin" + deep.substr(5) + "/a.dll";
  uint64_t size = 0;
  EXPECT_EQ(tree->kind(moved, &size), EntryKind::kFile);
  EXPECT_EQ(size, 5u);
  EXPECT_TRUE(tree->syncAll()) << ovix::Env::lastError();
  EXPECT_TRUE(tree->syncDirectory("bin")) << ovix::Env::lastError();
  ASSERT_TRUE(tree->removeTree("bin")) << ovix::Env::lastError();
  EXPECT_EQ(namesIn(*tree, ""), std::vector<std::string>{});
}

// How a file in use is replaced: moved aside while held, then the new one
// renamed into its place.
TEST(WindowsDirectoryTreeTest, AFileHeldOpenIsMovedAsideAndReplaced) {
  TempDir root;
  root.write("bin/a.dll", "old");
  root.write("stage/a.dll", "new");
  root.mkdir("backup");
  auto tree = openTree(root.path());
  std::unique_ptr<ovix::SequentialFile> running;
  ASSERT_TRUE(tree->openForReading("bin/a.dll", &running));
  ASSERT_TRUE(tree->rename("bin/a.dll", "backup/a.dll")) << ovix::Env::lastError();
  ASSERT_TRUE(tree->rename("stage/a.dll", "bin/a.dll")) << ovix::Env::lastError();
  EXPECT_EQ(root.read("bin/a.dll"), "new");
  EXPECT_EQ(root.read("backup/a.dll"), "old");
}

}  // namespace

#endif  // _WIN32
