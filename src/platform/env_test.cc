#include "platform/env.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "platform/path_text.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::FaultEnv;
using ovix::testing::TempDir;

// The names in `dir`, sorted.
std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<ovix::DirEntry> entries;
  ovix::Env::Default()->listDirectory(dir, &entries);
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicWriteTest, ReplacesTheFileWholeAndNeverWritesThroughALink) {
  TempDir dir, outside;
  std::string path = dir.write("setup.ini", "old");
  // A link at the name a temporary file once had.
  ASSERT_EQ(symlink(outside.file("x").c_str(), (path + ".tmp").c_str()), 0);
  ASSERT_TRUE(ovix::writeFileAtomically(*ovix::Env::Default(), path, "new contents"));
  EXPECT_EQ(dir.read("setup.ini"), "new contents");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"setup.ini", "setup.ini.tmp"}));
  EXPECT_TRUE(namesIn(outside.path()).empty());
}

TEST(AtomicWriteTest, AFailureLeavesTheOldFileAndNoTemporary) {
  struct Fault {
    const char* name;
    void (*arm)(FaultEnv&);
  };
  const Fault faults[] = {
      {"rename fails", [](FaultEnv& e) { e.failRename = true; }},
      {"disk full", [](FaultEnv& e) { e.diskSpaceLeft = 3; }},
      {"open fails", [](FaultEnv& e) { e.failOpenForWriteAt = 0; }},
  };
  for (const Fault& fault : faults) {
    TempDir dir;
    std::string path = dir.write("setup.ini", "old");
    FaultEnv env;
    fault.arm(env);
    EXPECT_FALSE(ovix::writeFileAtomically(env, path, "new contents")) << fault.name;
    EXPECT_FALSE(ovix::Env::lastError().empty()) << fault.name;
    EXPECT_EQ(dir.read("setup.ini"), "old") << fault.name;
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"setup.ini"}) << fault.name;
  }
}

TEST(EnvTest, NoWriteModeFollowsALink) {
  TempDir dir, outside;
  outside.write("victim", "victim");
  ASSERT_EQ(symlink(outside.file("victim").c_str(), dir.file("log").c_str()), 0);
  for (ovix::WriteMode mode :
       {ovix::WriteMode::kTruncate, ovix::WriteMode::kAppend, ovix::WriteMode::kCreateNew}) {
    std::unique_ptr<ovix::WritableFile> file;
    EXPECT_FALSE(ovix::Env::Default()->newWritableFile(dir.file("log"), mode, &file));
  }
  EXPECT_EQ(outside.read("victim"), "victim");
}

TEST(EnvTest, ListDirectoryTellsDirectoriesFromFilesAndSkipsDots) {
  TempDir dir;
  dir.mkdir("abc");
  dir.write("x.package", "");
  std::vector<ovix::DirEntry> entries;
  ASSERT_TRUE(ovix::Env::Default()->listDirectory(dir.path(), &entries));
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "abc");
  EXPECT_TRUE(entries[0].isDirectory);
  EXPECT_EQ(entries[1].name, "x.package");
  EXPECT_FALSE(entries[1].isDirectory);
  EXPECT_TRUE(entries[1].isFile);
  EXPECT_FALSE(entries[0].isFile);
  EXPECT_FALSE(ovix::Env::Default()->listDirectory(dir.file("missing"), &entries));
}

TEST(EnvTest, CreateDirAcceptsAnExistingDirectoryButNotAFile) {
  TempDir dir;
  ovix::Env* env = ovix::Env::Default();
  EXPECT_TRUE(env->createDir(dir.file("u")));
  EXPECT_TRUE(env->createDir(dir.file("u")));
  dir.write("f", "");
  EXPECT_FALSE(env->createDir(dir.file("f")));
  EXPECT_FALSE(env->createDir(dir.file("no/parent")));
}

TEST(EnvTest, SpawnDetachedRunsTheCommandWithoutWaiting) {
  TempDir dir;
  std::string marker = dir.file("ran");
  ASSERT_TRUE(ovix::Env::Default()->spawnDetached("echo done > '" + marker + "'"));
  for (int i = 0; i < 200 && dir.read("ran").empty(); ++i) usleep(10000);
  EXPECT_EQ(dir.read("ran"), "done\n");
}

TEST(PathTextTest, KeysAndPathsConvertAndSplit) {
  EXPECT_EQ(ovix::keyToNativePath("temp\\autoPatchLog.txt"), "temp/autoPatchLog.txt");
  EXPECT_EQ(ovix::nativePathToKey("bin/a.dll"), "bin\\a.dll");
  EXPECT_EQ(ovix::joinPath("/r", "temp/x"), "/r/temp/x");
  EXPECT_EQ(ovix::joinPath("/r/", "/x"), "/r/x");
  EXPECT_EQ(ovix::joinPath("", "x"), "x");
  EXPECT_EQ(ovix::parentPath("/opt/ovix/bin/linux64/"), "/opt/ovix/bin");
  EXPECT_EQ(ovix::parentPath("/x"), "/");
  EXPECT_EQ(ovix::parentPath("x"), "");
  EXPECT_EQ(ovix::baseName("C:\\tools\\pack"), "pack");
}

}  // namespace
