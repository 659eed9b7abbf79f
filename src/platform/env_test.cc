#include "platform/env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/path_text.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::FaultEnv;
using ovix::testing::makeSymbolicLink;
using ovix::testing::TempDir;

constexpr char kNoLinksHere[] =
    "this system makes no symbolic links (Wine 8 has no reparse points; Windows needs "
    "developer mode or administrator rights)";

// The names in `dir`, sorted.
std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<ovix::DirEntry> entries;
  ovix::Env::Default()->listDirectory(dir, &entries);
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

// Neither a plain nor an atomic write follows a link; the atomic one
// replaces the file whole even where a link has the name of its temporary.
TEST(EnvTest, NoWriteFollowsALink) {
  TempDir dir, outside;
  outside.write("victim", "victim");
  bool linked = makeSymbolicLink(outside.file("victim"), dir.file("log"));
#ifdef _WIN32
  if (!linked) GTEST_SKIP() << kNoLinksHere;
#endif
  ASSERT_TRUE(linked);
  for (ovix::WriteMode mode :
       {ovix::WriteMode::kTruncate, ovix::WriteMode::kAppend, ovix::WriteMode::kCreateNew}) {
    std::unique_ptr<ovix::WritableFile> file;
    EXPECT_FALSE(ovix::Env::Default()->newWritableFile(dir.file("log"), mode, &file));
  }
  std::string path = dir.write("setup.ini", "old");
  ASSERT_TRUE(makeSymbolicLink(outside.file("x"), path + ".tmp"));
  ASSERT_TRUE(ovix::writeFileAtomically(*ovix::Env::Default(), path, "new contents"));
  EXPECT_EQ(dir.read("setup.ini"), "new contents");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"log", "setup.ini", "setup.ini.tmp"}));
  EXPECT_EQ(namesIn(outside.path()), std::vector<std::string>{"victim"});
  EXPECT_EQ(outside.read("victim"), "victim");
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

// Creating a directory accepts one that exists but not a file or a missing
// parent; listing tells directories from files and skips the dots.
TEST(EnvTest, DirectoriesAreListedAndCreated) {
  TempDir dir;
  ovix::Env* env = ovix::Env::Default();
  EXPECT_TRUE(env->createDir(dir.file("abc")));
  EXPECT_TRUE(env->createDir(dir.file("abc")));
  dir.write("x.package", "");
  EXPECT_FALSE(env->createDir(dir.file("x.package")));
  EXPECT_FALSE(env->createDir(dir.file("no/parent")));
  std::vector<ovix::DirEntry> entries;
  ASSERT_TRUE(env->listDirectory(dir.path(), &entries));
  ASSERT_EQ(entries.size(), 2u);
  for (const ovix::DirEntry& e : entries) {
    EXPECT_EQ(e.isDirectory, e.name == "abc") << e.name;
    EXPECT_EQ(e.isFile, e.name == "x.package") << e.name;
  }
  EXPECT_FALSE(env->listDirectory(dir.file("missing"), &entries));
}

TEST(EnvTest, SpawnDetachedRunsTheCommandWithoutWaiting) {
  TempDir dir;
  std::string marker = dir.file("ran");
#ifdef _WIN32
  std::replace(marker.begin(), marker.end(), '/', '\\');
  const std::string command = "echo done>\"" + marker + "\"";
  const std::string expected = "done\r\n";
#else
  const std::string command = "echo done > '" + marker + "'";
  const std::string expected = "done\n";
#endif
  ASSERT_TRUE(ovix::Env::Default()->spawnDetached(command));
  for (int i = 0; i < 500 && dir.read("ran") != expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(dir.read("ran"), expected);
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
