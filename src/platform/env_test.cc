// The real Env on Linux and on Windows.
#include "platform/env.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/path_text.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::Env;
using ovix::WriteMode;
using ovix::testing::FaultEnv;
using ovix::testing::makeSymbolicLink;
using ovix::testing::namesIn;
using ovix::testing::TempDir;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

bool writeWith(const std::string& path, WriteMode mode, const std::string& text) {
  std::unique_ptr<ovix::WritableFile> file;
  return Env::Default()->newWritableFile(path, mode, &file) &&
         file->append(text.data(), text.size()) && file->sync() && file->close();
}

// Neither a plain nor an atomic write follows a link; the atomic one
// replaces the file whole even where a link has the name of its temporary.
TEST(EnvTest, NoWriteFollowsALink) {
  TempDir dir, outside;
  outside.write("victim", "victim");
  bool linked = makeSymbolicLink(outside.file("victim"), dir.file("log"));
  if (!linked && kWindows)
    GTEST_SKIP() << "this system makes no symbolic links (Wine 8; Windows without developer "
                    "mode or administrator rights)";
  ASSERT_TRUE(linked);
  for (WriteMode mode : {WriteMode::kTruncate, WriteMode::kAppend, WriteMode::kCreateNew})
    EXPECT_FALSE(writeWith(dir.file("log"), mode, "x"));
  std::string path = dir.write("setup.ini", "old");
  ASSERT_TRUE(makeSymbolicLink(outside.file("x"), path + ".tmp"));
  ASSERT_TRUE(ovix::writeFileAtomically(*Env::Default(), path, "new contents"));
  EXPECT_EQ(dir.read("setup.ini"), "new contents");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"log", "setup.ini", "setup.ini.tmp"}));
  EXPECT_EQ(namesIn(outside.path()), std::vector<std::string>{"victim"});
  EXPECT_EQ(outside.read("victim"), "victim");
}

TEST(AtomicWriteTest, AFailureLeavesTheOldFileAndNoTemporary) {
  const struct {
    const char* name;
    void (*arm)(FaultEnv&);
  } faults[] = {
      {"rename fails", [](FaultEnv& e) { e.failRename = true; }},
      {"disk full", [](FaultEnv& e) { e.diskSpaceLeft = 3; }},
      {"open fails", [](FaultEnv& e) { e.failOpenForWriteAt = 0; }},
  };
  for (const auto& fault : faults) {
    TempDir dir;
    std::string path = dir.write("setup.ini", "old");
    FaultEnv env;
    fault.arm(env);
    EXPECT_FALSE(ovix::writeFileAtomically(env, path, "new contents")) << fault.name;
    EXPECT_FALSE(Env::lastError().empty()) << fault.name;
    EXPECT_EQ(dir.read("setup.ini"), "old") << fault.name;
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"setup.ini"}) << fault.name;
  }
}

// Append writes at the end, also between two appenders of one file;
// create-new refuses a file that exists.
TEST(EnvTest, WriteModesAppendOrRefuse) {
  TempDir dir;
  EXPECT_TRUE(writeWith(dir.write("a", "old"), WriteMode::kAppend, "+new"));
  EXPECT_FALSE(writeWith(dir.write("c", "old"), WriteMode::kCreateNew, "+new"));
  std::unique_ptr<ovix::WritableFile> a, b;
  ASSERT_TRUE(Env::Default()->newWritableFile(dir.file("a"), WriteMode::kAppend, &a));
  ASSERT_TRUE(Env::Default()->newWritableFile(dir.file("a"), WriteMode::kAppend, &b));
  ASSERT_TRUE(a->append("1", 1) && b->append("2", 1) && a->append("3", 1) && b->sync());
  a.reset();
  b.reset();
  EXPECT_EQ(dir.read("a") + "|" + dir.read("c"), "old+new123|old");
}

// Creating a directory accepts one that exists but not a file or a missing
// parent; a failure names the path as given and the system's reason.
TEST(EnvTest, DirectoriesAreCreatedAndFailuresNameThePath) {
  TempDir dir;
  Env* env = Env::Default();
  EXPECT_TRUE(env->createDir(dir.file("abc")));
  EXPECT_TRUE(env->createDir(dir.file("abc")));
  dir.write("x.package", "");
  EXPECT_FALSE(env->createDir(dir.file("x.package")));
  EXPECT_FALSE(env->createDir(dir.file("no/parent")));
  const std::string missing = dir.file("missing/x.txt");
  std::unique_ptr<ovix::SequentialFile> file;
  ASSERT_FALSE(env->newSequentialFile(missing, &file));
  const std::string& text = Env::lastError();
  ASSERT_EQ(text.substr(0, missing.size() + 7), "open " + missing + ": ");
  EXPECT_GT(text.size(), missing.size() + 8);  // a reason follows
  EXPECT_NE(text.back(), '\n');
}

// Paths beyond MAX_PATH (260 on Windows) work, and files held open by a
// reader or a writer can be moved aside while the holders work on.
// (Replacing a file still open is refused by Windows without POSIX rename
// semantics, and by Wine.)
TEST(EnvTest, LongPathsAndFilesHeldOpen) {
  TempDir dir;
  std::string deep = dir.path();
  for (int i = 0; deep.size() < 300; ++i) {
    deep += "/folder-with-a-long-name-" + std::to_string(i);
    ASSERT_TRUE(Env::Default()->createDir(deep)) << Env::lastError();
  }
  const std::string path = deep + "/setup.ini", log = deep + "/log";
  ASSERT_TRUE(writeWith(path, WriteMode::kCreateNew, "old")) << Env::lastError();
  EXPECT_EQ(Env::Default()->fileSize(path), 3u);
  std::unique_ptr<ovix::SequentialFile> reader;
  std::unique_ptr<ovix::WritableFile> writer;
  ASSERT_TRUE(Env::Default()->newSequentialFile(path, &reader)) << Env::lastError();
  ASSERT_TRUE(Env::Default()->newWritableFile(log, WriteMode::kAppend, &writer));
  ASSERT_TRUE(Env::Default()->renameFile(path, path + ".old")) << Env::lastError();
  ASSERT_TRUE(ovix::writeFileAtomically(*Env::Default(), path, "new")) << Env::lastError();
  ASSERT_TRUE(Env::Default()->renameFile(log, log + ".1")) << Env::lastError();
  ASSERT_TRUE(writer->append("more", 4) && writer->close());
  char buf[8];
  size_t got = 0;
  ASSERT_TRUE(reader->read(buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "old");
  EXPECT_EQ(namesIn(deep), (std::vector<std::string>{"log.1", "setup.ini", "setup.ini.old"}));
  std::string text, more, real;
  ASSERT_TRUE(ovix::readFileToString(*Env::Default(), path, &text) &&
              ovix::readFileToString(*Env::Default(), log + ".1", &more));
  EXPECT_EQ(text + more, "newmore");
  const char* separator = kWindows ? "\\" : "/";  // Windows takes either
  ASSERT_TRUE(Env::Default()->realPath(deep + separator + "setup.ini", &real));
  EXPECT_GT(real.size(), 300u);
  EXPECT_NE(real.substr(0, 4), "\\\\?\\");
}

// The environment tells empty from unset, in UTF-8; the program file is
// found; process 0 is never ended (a signal to 0 would reach the whole
// group); a detached command runs on after the call.
TEST(EnvTest, EnvironmentProgramFileProcessZeroAndDetachedCommands) {
#ifdef _WIN32
  ASSERT_TRUE(SetEnvironmentVariableW(L"OVIX_TEST_EMPTY", L""));
  ASSERT_TRUE(SetEnvironmentVariableW(L"OVIX_TEST_TEXT", L"\u00e9t\u00e9"));
#else
  ASSERT_EQ(setenv("OVIX_TEST_EMPTY", "", 1), 0);
  ASSERT_EQ(setenv("OVIX_TEST_TEXT", "\xc3\xa9t\xc3\xa9", 1), 0);
#endif
  EXPECT_EQ(Env::Default()->getEnv("OVIX_TEST_EMPTY"), "");
  EXPECT_EQ(Env::Default()->getEnv("OVIX_TEST_TEXT"), "\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(Env::Default()->getEnv("OVIX_TEST_UNSET_VARIABLE"), std::nullopt);
  EXPECT_TRUE(Env::Default()->fileExists(Env::Default()->executablePath()));
  EXPECT_FALSE(Env::Default()->terminateProcess(0));

  TempDir dir;
  std::string marker = dir.file("ran");
  if (kWindows) std::replace(marker.begin(), marker.end(), '/', '\\');
  const std::string command = "echo done>\"" + marker + "\"";
  const std::string expected = kWindows ? "done\r\n" : "done\n";
  ASSERT_TRUE(Env::Default()->spawnDetached(command));
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
