#include "packing/file_selection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/program_paths.h"
#include "testing/temp_dir.h"

namespace {

using Names = std::vector<std::string>;
using ovix::testing::TempDir;

class FileSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ovix::fillProgramPaths(program_.file("ovixpatch"), std::nullopt); }

  ovix::PackFileFilter filter(const std::string& user, const std::string& subdir,
                              const std::string& types, bool project = false) {
    return ovix::PackFileFilter(env_, user, subdir, types, project);
  }

  Names collect(const std::string& start, const ovix::PackFileFilter* f) {
    Names result;
    ovix::collectFiles(env_, tree_.path(), start, f, result);
    return result;
  }

  ovix::Env& env_ = *ovix::Env::Default();
  TempDir program_;  // the program directory with its user folders
  TempDir tree_;     // the source tree
};

TEST_F(FileSelectionTest, KeysUpperCaseLettersAndKeepChinese) {
  EXPECT_EQ(ovix::toUpperKey("bin\\Setup.dll 项目\\配置.ini straße\\é"),
            "BIN\\SETUP.DLL 项目\\配置.INI STRAßE\\É");
  EXPECT_EQ(ovix::toUpperKey(std::string("\xff\xfe" "a", 3)), std::string("\xff\xfe" "A", 3));
}

// Blanks around typed types are not part of them.
TEST_F(FileSelectionTest, FileTypesMatchAsExtensionsIgnoringCase) {
  auto f = filter("", "", "DLL, ARX,LUA, XML ,CSV, ini");
  const std::pair<const char*, bool> cases[] = {
      {"setup.Dll", true}, {".dll", true},   {"a.ini", true},   {"dll", false},
      {"a.dlls", false},   {"a.exe", false}, {"a.b.XML", true}, {"adll", false}};
  for (const auto& [name, taken] : cases) EXPECT_EQ(f.acceptFile("bin", name), taken) << name;
}

// Each mode has its forbidden list and its project databases; a file list
// takes what it names, forbidden or not.  Lists are read from the user's
// folder (the program directory for no user), a line at a time without its
// line end; one that is empty or has only its header line is read as the
// other meaning of the field.
TEST_F(FileSelectionTest, ForbiddenListsApplyPerModeAndFileListsOverrideThem) {
  program_.write(ovix::kForbiddenListSoftware,
                 "header\r\n\\bin\\LOCKED.dll\r\nsetup.ini\n/doc/a.ini");
  program_.write(ovix::kForbiddenListProject, "header\nprojectAttr.zeda\n");
  auto software = filter("", "", "");
  EXPECT_FALSE(software.acceptFile("bin", "locked.DLL"));  // leading backslash, other case
  EXPECT_FALSE(software.acceptFile("", "SETUP.INI"));
  EXPECT_TRUE(software.acceptFile("", "projectAttr.zeda"));
  EXPECT_TRUE(software.acceptFile("sub", "setup.ini"));  // another path
  EXPECT_FALSE(software.acceptFile("doc", "a.ini"));     // written with '/'
  EXPECT_FALSE(software.isProjectDatabase("projectAttr.zeda"));
  auto project = filter("", "", "", true);
  EXPECT_TRUE(project.acceptFile("bin", "locked.dll"));
  EXPECT_FALSE(project.acceptFile("", "PROJECTATTR.ZEDA"));
  EXPECT_TRUE(project.isProjectDatabase("digital_data.zeda"));
  EXPECT_FALSE(project.isProjectDatabase("other.zeda"));

  program_.write("abc/files.csv", "header\nbin/locked.dll\n");
  auto listed = filter("abc", "", "files.csv");
  EXPECT_TRUE(listed.hasFileList());
  EXPECT_TRUE(listed.acceptFile("bin", "locked.dll"));  // '/' reads as a backslash
  EXPECT_FALSE(listed.acceptFile("bin", "other.dll"));

  program_.write("top.csv", "header\na.dll\n");
  EXPECT_TRUE(filter("", "", "top.csv").hasFileList());
  EXPECT_FALSE(filter("abc", "", "top.csv").hasFileList());

  program_.write("abc/types.csv", "header only\n");
  program_.write("abc/skip.csv", "");
  auto f = filter("abc", "skip.csv", "types.csv");
  EXPECT_FALSE(f.hasFileList());
  EXPECT_FALSE(f.hasExclusionList());
  EXPECT_EQ(f.extensions(), Names{"types.csv"});
  EXPECT_FALSE(f.acceptFile("", "a.dll"));
}

// Names are ordered without regard to case; what is no file (a pipe) is
// left out, and so is the subtree of a directory the exclusion list names
// (a file it names is not excluded).  The pack job's tests cover the links.
TEST_F(FileSelectionTest, WalkIsDepthFirstInNameOrderWithPathsFromTheRoot) {
  for (const char* file : {"B.dll", "A.dll", "a.txt", "bin/x.dll", "bin/sub/y.dll", "bin/z.txt",
                           ".hidden.dll", "skip/b.dll", "keep/skip/d.dll", "keep/a.dll"})
    tree_.write(file, "");
  tree_.mkdir("empty");
#ifndef _WIN32  // Windows has no named pipes among files
  ASSERT_EQ(::mkfifo(tree_.file("pipe.dll").c_str(), 0644), 0);
#endif
  program_.write("abc/exclude.csv", "header\n\\SKIP\na.txt\nkeep/skip\n");
  auto excluding = filter("abc", "exclude.csv", "");
  ASSERT_TRUE(excluding.hasExclusionList());
  const Names kept = {".hidden.dll", "A.dll",     "a.txt",     "B.dll",
                      "bin\\sub\\y.dll", "bin\\x.dll", "bin\\z.txt", "keep\\a.dll"};
  EXPECT_EQ(collect("", &excluding), kept);
  EXPECT_EQ(collect("", nullptr).size(), kept.size() + 2);
  auto dlls = filter("", "", "DLL");
  EXPECT_EQ(collect("bin/sub/", &dlls), Names{"bin\\sub\\y.dll"});
  EXPECT_TRUE(collect("missing", &dlls).empty());
}

}  // namespace
