// What the Windows Env must do beyond the shared tests: paths beyond
// MAX_PATH, renames over files still held open, append-only writes,
// Win32 error texts, processes and GUID byte order.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/env.h"
#include "platform/guid.h"
#include "testing/temp_dir.h"

namespace {

using ovix::Env;
using ovix::WriteMode;
using ovix::testing::TempDir;

bool writeWith(const std::string& path, WriteMode mode, const std::string& text) {
  std::unique_ptr<ovix::WritableFile> file;
  return Env::Default()->newWritableFile(path, mode, &file) &&
         file->append(text.data(), text.size()) && file->sync() && file->close();
}

std::string contentsOf(const std::string& path) {
  std::string text;
  return ovix::readFileToString(*Env::Default(), path, &text) ? text : "<unreadable>";
}

TEST(WindowsEnvTest, WriteModesKeepTruncateOrRefuse) {
  struct Case {
    WriteMode mode;
    bool opens;
    const char* after;
  } cases[] = {
      {WriteMode::kAppend, true, "old+new"},
      {WriteMode::kTruncate, true, "+new"},
      {WriteMode::kCreateNew, false, "old"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir.write("log.txt", "old");
    EXPECT_EQ(writeWith(path, c.mode, "+new"), c.opens) << c.after;
    EXPECT_EQ(contentsOf(path), c.after);
  }
}

// Two appenders never overwrite each other: each write lands at the end.
TEST(WindowsEnvTest, AppendersInterleaveWithoutLoss) {
  TempDir dir;
  std::string path = dir.file("log.txt");
  std::unique_ptr<ovix::WritableFile> a, b;
  ASSERT_TRUE(Env::Default()->newWritableFile(path, WriteMode::kAppend, &a));
  ASSERT_TRUE(Env::Default()->newWritableFile(path, WriteMode::kAppend, &b));
  ASSERT_TRUE(a->append("1", 1) && b->append("2", 1) && a->append("3", 1) && b->sync());
  a.reset();
  b.reset();
  EXPECT_EQ(contentsOf(path), "123");
}

TEST(WindowsEnvTest, PathsBeyondMaxPathWork) {
  TempDir dir;
  std::string deep = dir.path();
  for (int i = 0; deep.size() < 300; ++i) {
    deep += "/folder-with-a-long-name-" + std::to_string(i);
    ASSERT_TRUE(Env::Default()->createDir(deep)) << Env::lastError();
  }
  const std::string file = deep + "/data.bin";
  ASSERT_TRUE(writeWith(file, WriteMode::kCreateNew, "long")) << Env::lastError();
  EXPECT_EQ(Env::Default()->fileSize(file), 4u);
  ASSERT_TRUE(Env::Default()->renameFile(file, deep + "/renamed.bin")) << Env::lastError();
  EXPECT_EQ(contentsOf(deep + "/renamed.bin"), "long");
  std::vector<ovix::DirEntry> entries;
  ASSERT_TRUE(Env::Default()->listDirectory(deep, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "renamed.bin");
  std::string real;
  ASSERT_TRUE(Env::Default()->realPath(deep + "\\renamed.bin", &real)) << Env::lastError();
  EXPECT_GT(real.size(), 300u);
  EXPECT_NE(real.substr(0, 4), "\\\\?\\");
}

// The installer moves files aside that it or a reader still holds, and
// the holders keep working on them.  (Replacing a file that is still open
// is refused by Windows without POSIX rename semantics, and by Wine.)
TEST(WindowsEnvTest, FilesHeldOpenCanBeMovedAside) {
  TempDir dir;
  std::string path = dir.write("setup.ini", "old");
  std::unique_ptr<ovix::SequentialFile> reader;
  ASSERT_TRUE(Env::Default()->newSequentialFile(path, &reader));
  std::unique_ptr<ovix::WritableFile> writer;
  ASSERT_TRUE(Env::Default()->newWritableFile(dir.file("log"), WriteMode::kAppend, &writer));
  ASSERT_TRUE(Env::Default()->renameFile(path, path + ".old")) << Env::lastError();
  ASSERT_TRUE(ovix::writeFileAtomically(*Env::Default(), path, "new")) << Env::lastError();
  ASSERT_TRUE(Env::Default()->renameFile(dir.file("log"), dir.file("log.1"))) << Env::lastError();
  ASSERT_TRUE(writer->append("more", 4) && writer->close());
  EXPECT_EQ(contentsOf(path), "new");
  EXPECT_EQ(contentsOf(dir.file("log.1")), "more");
  char buf[8];
  size_t got = 0;
  ASSERT_TRUE(reader->read(buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "old");
}

TEST(WindowsEnvTest, FailuresNameThePathAsGivenWithTheSystemText) {
  TempDir dir;
  const std::string missing = dir.path() + "/missing/x.txt";
  std::unique_ptr<ovix::SequentialFile> file;
  ASSERT_FALSE(Env::Default()->newSequentialFile(missing, &file));
  const std::string& text = Env::lastError();
  ASSERT_EQ(text.substr(0, missing.size() + 7), "open " + missing + ": ");
  EXPECT_GT(text.size(), missing.size() + 8);  // a reason follows
  EXPECT_NE(text.back(), '\n');
}

TEST(WindowsEnvTest, ProcessesAreListedAndStartFailuresCarryTheSystemCode) {
  std::vector<ovix::ProcessInfo> processes;
  ASSERT_TRUE(Env::Default()->listProcesses(&processes));
  std::string self = Env::Default()->executablePath();
  ASSERT_TRUE(Env::Default()->fileExists(self));
  self = self.substr(self.find_last_of('\\') + 1);
  bool found = false;
  for (const auto& p : processes)
    found = found || (p.pid == static_cast<int>(GetCurrentProcessId()) && p.exeName == self);
  EXPECT_TRUE(found) << self;

  EXPECT_FALSE(Env::Default()->terminateProcess(0));
  TempDir dir;
  int error = 0;
  EXPECT_FALSE(Env::Default()->spawnProgram(dir.file("none.exe"), &error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
}

TEST(WindowsEnvTest, EnvironmentTellsEmptyFromUnset) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"OVIX_TEST_EMPTY", L""));
  ASSERT_TRUE(SetEnvironmentVariableW(L"OVIX_TEST_TEXT", L"\u00e9t\u00e9"));
  EXPECT_EQ(Env::Default()->getEnv("OVIX_TEST_EMPTY"), "");
  EXPECT_EQ(Env::Default()->getEnv("OVIX_TEST_TEXT"), "\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(Env::Default()->getEnv("OVIX_TEST_UNSET_VARIABLE"), std::nullopt);
}

// A new GUID is of version 4 (random) with the RFC 4122 variant; both sit
// in fixed places only when the bytes come in text order.
TEST(WindowsGuidTest, BytesComeInTextOrder) {
  for (int i = 0; i < 8; ++i) {
    unsigned char bytes[16];
    ovix::newGuidBytes(bytes);
    EXPECT_EQ(bytes[6] >> 4, 4);
    EXPECT_EQ(bytes[8] & 0xC0, 0x80);
  }
}

}  // namespace

#endif  // _WIN32
