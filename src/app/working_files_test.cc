#include "app/working_files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/program_paths.h"
#include "testing/fault_env.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

class WorkingFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.clock = 1796375100;  // 2026-12-04 09:05 UTC
    ovix::fillProgramPaths(dir_.file("pack.exe"), std::nullopt);
  }

  ovix::testing::ScopedEnv zone_{"TZ", "UTC"};
  TempDir dir_;
  ovix::testing::FaultEnv env_;
};

// The kind names the package in any letter case; the user folder is made,
// and a user that would lead out of the program directory gives no path.
// User folders are the subdirectories; files match a pattern without regard
// to case, and every name matches none, "" or "*.*".
TEST_F(WorkingFilesTest, PackagePathsMakeTheUserFoldersThatTheProgramDirectoryLists) {
  struct Case {
    const char* user;
    const char* kind;
    std::string path;  // below the program directory
  };
  const std::string stamp = "_20261204_0905.package";
  const Case cases[] = {
      {"abc", "config", "abc/abc_项目补丁数据包" + stamp},
      {"", "CONFIG", "所有用户/所有用户_项目补丁数据包" + stamp},
      {"abc", "Install", "abc/abc_软件安装数据包" + stamp},
      {"abc", "patch", "abc/abc_.package"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user) + " " + c.kind);
    std::string path = ovix::packagePathFor(env_, c.user, c.kind);
    EXPECT_EQ(path, dir_.file(c.path));
    EXPECT_TRUE(env_.isDirectory(path.substr(0, path.rfind('/'))));
  }
  EXPECT_EQ(ovix::packagePathFor(env_, nullptr, "DLL"), "");
  EXPECT_EQ(ovix::packagePathFor(env_, "abc", nullptr), "");
  for (const char* outside : {"..", "../x", "a/b", "a\\b"})
    EXPECT_EQ(ovix::packagePathFor(env_, outside, "DLL"), "") << outside;

  dir_.mkdir("dir.package");
  for (const char* name : {"a.package", "B.PACKAGE", "notes.txt", "README"}) dir_.write(name, "");
  EXPECT_EQ(sorted(ovix::listUserFolders(env_)),
            (std::vector<std::string>{"abc", "dir.package", "所有用户"}));
  EXPECT_EQ(sorted(ovix::listProgramFiles(env_, "*.package")),
            (std::vector<std::string>{dir_.file("B.PACKAGE"), dir_.file("a.package")}));
  for (const char* every : {static_cast<const char*>(nullptr), "", "*.*"})
    EXPECT_EQ(ovix::listProgramFiles(env_, every).size(), 4u) << (every ? every : "null");
  EXPECT_TRUE(ovix::listProgramFiles(env_, "*.zip").empty());

  ovix::fillProgramPaths(dir_.file("missing/pack"), std::nullopt);
  EXPECT_TRUE(ovix::listUserFolders(env_).empty());
}

}  // namespace
