// The server's project list and the project information file, on both
// server backends.

#include "jobs/project_info_job.h"
#include "project/project_info.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/ini_file.h"
#include "app/working_files.h"
#include "platform/path_text.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ProjectInfoTest = ovix::testing::ProjectServerTest;
using Texts = std::vector<std::string>;

// Projects are listed in row order without nameless rows, and each is
// looked up by its exact name only.  The information file gets the project
// and keeps what else it holds; an unknown project, or a name that is no
// file name, writes no file.
TEST_P(ProjectInfoTest, ProjectsAreListedLookedUpByTheirExactNameAndWrittenDown) {
  Texts names = {"kept"};
  EXPECT_FALSE(ovix::listProjects(address(), port(), &names));  // no project yet
  EXPECT_EQ(names, Texts{"kept"});

  std::string b = server_->addProject("b-second", "{B}", "", false);
  std::string a = server_->addProject("a-first", "{A}", "", false);
  std::string plant = server_->addProject("Plant", "{P-1}", "A1A202612010800", false);
  ASSERT_TRUE(server_->run(server_->generalDatabase(),
                           "insert into ZedaProject (m_projGuid) values ('{nameless}')"));
  ASSERT_TRUE(ovix::listProjects(address(), port(), &names));
  EXPECT_EQ(names, (Texts{"kept", b, a, plant}));

  std::string guid = "untouched", mark = "untouched";
  for (std::string other : {"plant" + plant.substr(5), std::string("' or '1'='1"),
                            std::string(""), plant + "%"}) {
    EXPECT_FALSE(ovix::getProjectInfo(address(), port(), other.c_str(), &guid, &mark)) << other;
  }
  EXPECT_EQ(guid, "untouched");
  ASSERT_TRUE(ovix::getProjectInfo(address(), port(), plant.c_str(), &guid, &mark));
  EXPECT_EQ(guid, "{P-1}");
  EXPECT_EQ(mark, "A1A202612010800");

  const std::string path = program_.write(
      plant + ".ini", "[Notes]\nBy=site admin\n[PatchProject]\nGUID=old\nNAME=old\nExtra=1\n");
  ovix::testing::ScopedRecorder recorder;
  ASSERT_TRUE(ovix::projectInfoOk(env_, address(), port(), plant));
  ASSERT_TRUE(ovix::projectInfoOk(env_, address(), port(), plant));  // a second time: same file
  ovix::IniFile ini;
  ASSERT_TRUE(ini.load(env_, path));
  EXPECT_STREQ(ini.getValue("PatchProject", "GUID"), "{P-1}");
  EXPECT_STREQ(ini.getValue("PatchProject", "NAME"), plant.c_str());
  EXPECT_STREQ(ini.getValue("PatchProject", "Extra"), "1");
  EXPECT_STREQ(ini.getValue("Notes", "By"), "site admin");

  ASSERT_TRUE(server_->run(server_->generalDatabase(), "insert into ZedaProject values (?, ?, ?)",
                           {"../escape", "{E}", ""}));
  for (std::string name : {"elsewhere", "x'; DROP TABLE ZedaProject; --", "../escape"}) {
    recorder.messages.clear();
    EXPECT_FALSE(ovix::projectInfoOk(env_, address(), port(), name));
    EXPECT_THAT(recorder.messages, ElementsAre(name == "../escape"
                                                   ? HasSubstr("不能用作文件名")
                                                   : HasSubstr("未成功查询到项目信息：" + name)));
  }
  EXPECT_TRUE(server_->hasTable(server_->generalDatabase(), "ZedaProject"));
  EXPECT_FALSE(env_.fileExists(ovix::projectInfoPath("elsewhere")));
  EXPECT_FALSE(env_.fileExists(ovix::parentPath(program_.path()) + "/escape.ini"));
}

OVIX_SERVER_TEST_BACKENDS(ProjectInfoTest);

}  // namespace
