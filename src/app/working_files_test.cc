#include "app/working_files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/program_paths.h"
#include "testing/fault_env.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::FaultEnv;
using ovix::testing::TempDir;

class WorkingFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.clock = 1796375100;  // 2026-12-04 09:05 UTC
    ovix::fillProgramPaths(dir_.file("pack.exe"), std::nullopt);
  }

  ovix::testing::ScopedEnv zone_{"TZ", "UTC"};
  TempDir dir_;
  FaultEnv env_;
};

TEST_F(WorkingFilesTest, WorkingFileNamesDeriveFromTheProgramPath) {
  ovix::fillProgramPaths("C:\\tools\\pack.exe", std::nullopt);
  EXPECT_EQ(ovix::uploadIniPath(), "C:\\tools\\pack_upload.ini");
  EXPECT_EQ(ovix::downloadIniPath(), "C:\\tools\\pack_download.ini");
  EXPECT_EQ(ovix::commandLogPath(), "C:\\tools\\pack.logfile");
  EXPECT_EQ(ovix::dbLogPath(), "C:\\tools\\pack.dblog");
  ovix::fillProgramPaths("/opt/tools/pack", std::nullopt);
  EXPECT_EQ(ovix::projectInfoPath("P1"), "/opt/tools/P1.ini");
}

TEST_F(WorkingFilesTest, PackageNamePrefixFollowsTheKindInAnyLetterCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"config", "项目补丁数据包_20261204_0905"}, {"CONFIG", "项目补丁数据包_20261204_0905"},
      {"dll", "软件补丁数据包_20261204_0905"},    {"DLL", "软件补丁数据包_20261204_0905"},
      {"Install", "软件安装数据包_20261204_0905"}, {"patch", ""},
      {"", ""},                                   {nullptr, ""},
  };
  for (const auto& [kind, prefix] : cases)
    EXPECT_EQ(ovix::packageNamePrefix(env_, kind), prefix) << (kind ? kind : "null");
}

TEST_F(WorkingFilesTest, PackagePathForCreatesTheUserFolder) {
  EXPECT_EQ(ovix::packagePathFor(env_, "abc", "DLL"),
            dir_.file("abc/abc_软件补丁数据包_20261204_0905.package"));
  EXPECT_TRUE(env_.isDirectory(dir_.file("abc")));

  EXPECT_EQ(ovix::packagePathFor(env_, "", "CONFIG"),
            dir_.file("所有用户/所有用户_项目补丁数据包_20261204_0905.package"));
  EXPECT_TRUE(env_.isDirectory(dir_.file("所有用户")));

  EXPECT_EQ(ovix::packagePathFor(env_, "abc", "other"), dir_.file("abc/abc_.package"));
  EXPECT_EQ(ovix::packagePathFor(env_, nullptr, "DLL"), "");
  EXPECT_EQ(ovix::packagePathFor(env_, "abc", nullptr), "");
  for (const char* outside : {"..", "../x", "a/b", "a\\b"})
    EXPECT_EQ(ovix::packagePathFor(env_, outside, "DLL"), "") << outside;
}

TEST_F(WorkingFilesTest, UserFoldersAreTheSubdirectoriesOfTheProgramDirectory) {
  dir_.mkdir("abc");
  dir_.mkdir("所有用户");
  dir_.write("pack_upload.ini", "");
  std::vector<std::string> folders = ovix::listUserFolders(env_);
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"abc", "所有用户"}));

  ovix::fillProgramPaths(dir_.file("missing/pack"), std::nullopt);
  EXPECT_TRUE(ovix::listUserFolders(env_).empty());
}

TEST_F(WorkingFilesTest, ProgramFilesMatchThePatternWithoutRegardToCase) {
  dir_.write("a.package", "");
  dir_.write("B.PACKAGE", "");
  dir_.write("notes.txt", "");
  dir_.write("README", "");
  dir_.mkdir("dir.package");
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(ovix::listProgramFiles(env_, "*.package")),
            (std::vector<std::string>{dir_.file("B.PACKAGE"), dir_.file("a.package")}));
  EXPECT_EQ(ovix::listProgramFiles(env_, nullptr).size(), 4u);
  EXPECT_EQ(ovix::listProgramFiles(env_, "").size(), 4u);
  EXPECT_EQ(ovix::listProgramFiles(env_, "*.*").size(), 4u);
  EXPECT_TRUE(ovix::listProgramFiles(env_, "*.zip").empty());
}

}  // namespace
