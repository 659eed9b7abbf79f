#include "packing/file_selection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/program_paths.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

class FileSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ovix::fillProgramPaths(program_.file("ovixpatch"), std::nullopt);
  }

  ovix::PackFileFilter filter(const std::string& user, const std::string& subdir,
                              const std::string& types, bool project = false) {
    return ovix::PackFileFilter(env_, user, subdir, types, project);
  }

  std::vector<std::string> collect(const std::string& start, const ovix::PackFileFilter* f) {
    std::vector<std::string> result;
    ovix::collectFiles(env_, tree_.path(), start, f, result);
    return result;
  }

  ovix::Env& env_ = *ovix::Env::Default();
  TempDir program_;  // the program directory with its user folders
  TempDir tree_;     // the source tree
};

TEST_F(FileSelectionTest, KeysUpperCaseLettersAndKeepChinese) {
  EXPECT_EQ(ovix::toUpperKey("bin\\Setup.dll"), "BIN\\SETUP.DLL");
  EXPECT_EQ(ovix::toUpperKey("项目\\配置.ini"), "项目\\配置.INI");
  EXPECT_EQ(ovix::toUpperKey("straße\\é"), "STRAßE\\É");
  EXPECT_EQ(ovix::toUpperKey(std::string("\xff\xfe" "a", 3)), std::string("\xff\xfe" "A", 3));
}

TEST_F(FileSelectionTest, ListFilesGiveOneEntryPerLineWithoutTerminators) {
  std::string path = program_.write("list.csv", "header,x\r\n\\bin\\a.dll\nb.dll\n" +
                                                    std::string(1500, 'z') + "\nlast");
  std::vector<std::string> entries;
  ASSERT_TRUE(ovix::readListFile(env_, path, entries));
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[0], "header,x");
  EXPECT_EQ(entries[1], "\\bin\\a.dll");
  EXPECT_EQ(entries[3], std::string(1023, 'z'));
  EXPECT_EQ(entries[4], std::string(477, 'z'));
  EXPECT_EQ(entries[5], "last");

  std::vector<std::string> none;
  EXPECT_FALSE(ovix::readListFile(env_, "", none));
  EXPECT_FALSE(ovix::readListFile(env_, program_.file("missing.csv"), none));
  EXPECT_FALSE(ovix::readListFile(env_, program_.write("empty.csv", ""), none));
}

TEST_F(FileSelectionTest, FileTypesMatchAsExtensionsIgnoringCase) {
  auto f = filter("", "", "DLL,ARX,LUA,XML,CSV,INI");
  struct Case {
    const char* name;
    bool taken;
  };
  const Case cases[] = {{"setup.Dll", true}, {".dll", true},  {"a.ini", true},
                        {"dll", false},      {"a.dlls", false}, {"a.exe", false},
                        {"a.b.XML", true},   {"adll", false}};
  for (const Case& c : cases) EXPECT_EQ(f.acceptFile("", c.name), c.taken) << c.name;
  // Blanks around typed types are not part of them.
  EXPECT_TRUE(filter("", "", "DLL, ini").acceptFile("bin", "x.ini"));
}

TEST_F(FileSelectionTest, ForbiddenListsApplyPerModeAndFileListsOverrideThem) {
  program_.write(ovix::kForbiddenListSoftware, "header\n\\bin\\LOCKED.dll\nsetup.ini\n/doc/a.ini\n");
  program_.write(ovix::kForbiddenListProject, "header\nprojectAttr.zeda\n");
  auto software = filter("", "", "");
  EXPECT_FALSE(software.acceptFile("bin", "locked.DLL"));  // leading backslash, other case
  EXPECT_FALSE(software.acceptFile("", "SETUP.INI"));
  EXPECT_TRUE(software.acceptFile("", "projectAttr.zeda"));
  EXPECT_TRUE(software.acceptFile("sub", "setup.ini"));  // another path
  EXPECT_FALSE(software.acceptFile("doc", "a.ini"));      // written with '/'
  auto project = filter("", "", "", true);
  EXPECT_TRUE(project.acceptFile("bin", "locked.dll"));
  EXPECT_FALSE(project.acceptFile("", "PROJECTATTR.ZEDA"));

  program_.write("abc/files.csv", "header\nbin/locked.dll\n");
  auto listed = filter("abc", "", "files.csv");
  EXPECT_TRUE(listed.hasFileList());
  EXPECT_TRUE(listed.acceptFile("bin", "locked.dll"));  // listed beats forbidden; '/' reads as a backslash
  EXPECT_FALSE(listed.acceptFile("bin", "other.dll"));
}

// A list is looked up in the user folder, else the program directory; one
// with only its header line is read as the other meaning of the field.
TEST_F(FileSelectionTest, ListsAreLookedUpInTheUserFolderOrTheProgramDirectory) {
  program_.write("files.csv", "header\na.dll\n");
  program_.write("abc/other.csv", "header\nb.dll\n");
  EXPECT_TRUE(filter("", "", "files.csv").hasFileList());
  EXPECT_FALSE(filter("abc", "", "files.csv").hasFileList());
  EXPECT_TRUE(filter("abc", "", "other.csv").hasFileList());

  program_.write("abc/types.csv", "header only\n");
  program_.write("abc/skip.csv", "header only\n");
  auto f = filter("abc", "skip.csv", "types.csv");
  EXPECT_FALSE(f.hasFileList());
  EXPECT_FALSE(f.hasExclusionList());
  EXPECT_EQ(f.extensions(), std::vector<std::string>{"types.csv"});
  EXPECT_FALSE(f.acceptFile("", "a.dll"));
}

TEST_F(FileSelectionTest, ProjectDatabasesAreKnownInProjectModeOnly) {
  auto project = filter("", "", "", true);
  EXPECT_TRUE(project.isProjectDatabase("projectAttr.zeda"));
  EXPECT_TRUE(project.isProjectDatabase("pid\\PROJECTPIDATTR.ZEDA"));
  EXPECT_TRUE(project.isProjectDatabase("digital_data.zeda"));
  EXPECT_FALSE(project.isProjectDatabase("other.zeda"));
  EXPECT_FALSE(filter("", "", "").isProjectDatabase("projectAttr.zeda"));
}

// Links to directories are not entered, links to files inside are files,
// and what is no file (a pipe, a dangling link) is left out.
TEST_F(FileSelectionTest, WalkIsDepthFirstInNameOrderWithPathsFromTheRoot) {
  tree_.write("b.dll", "");
  tree_.write("A.dll", "");
  tree_.write("bin/x.dll", "");
  tree_.write("bin/sub/y.dll", "");
  tree_.write("bin/z.txt", "");
  tree_.write(".hidden.dll", "");
  tree_.mkdir("empty");
  TempDir outside;
  outside.write("secret.dll", "s");
  ASSERT_EQ(::symlink(outside.path().c_str(), tree_.file("link").c_str()), 0);
  ASSERT_EQ(::symlink(tree_.file("A.dll").c_str(), tree_.file("alias.dll").c_str()), 0);
  ASSERT_EQ(::symlink(tree_.file("nowhere").c_str(), tree_.file("broken.dll").c_str()), 0);
  ASSERT_EQ(::mkfifo(tree_.file("pipe.dll").c_str(), 0644), 0);
  EXPECT_EQ(collect("", nullptr),
            (std::vector<std::string>{".hidden.dll", "A.dll", "alias.dll", "b.dll", "bin\\sub\\y.dll",
                                      "bin\\x.dll", "bin\\z.txt"}));
  auto dlls = filter("", "", "DLL");
  EXPECT_EQ(collect("bin", &dlls), (std::vector<std::string>{"bin\\sub\\y.dll", "bin\\x.dll"}));
  EXPECT_EQ(collect("bin/sub/", &dlls), (std::vector<std::string>{"bin\\sub\\y.dll"}));
  EXPECT_TRUE(collect("missing", &dlls).empty());
  std::vector<std::string> none;
  ovix::collectFiles(env_, "", "", nullptr, none);
  EXPECT_TRUE(none.empty());
}

TEST_F(FileSelectionTest, ExcludedDirectoriesSkipTheirSubtreeButNotFiles) {
  tree_.write("keep/a.dll", "");
  tree_.write("skip/b.dll", "");
  tree_.write("skip/deeper/c.dll", "");
  tree_.write("keep/skip/d.dll", "");
  tree_.write("top.dll", "");
  program_.write("abc/exclude.csv", "header\n\\SKIP\ntop.dll\nkeep/skip\n");
  auto f = filter("abc", "exclude.csv", "");
  ASSERT_TRUE(f.hasExclusionList());
  EXPECT_EQ(collect("", &f), (std::vector<std::string>{"keep\\a.dll", "top.dll"}));
}

}  // namespace
