#include "platform/program_paths.h"

#include <gtest/gtest.h>

#include "platform/zeda_system.h"
#include "testing/fault_env.h"

namespace {

TEST(ProgramPathsTest, BasePathAndDirectoryFromTheProgramFile) {
  struct Case {
    const char* exe;
    std::optional<std::string> home;
    const char* base;
    const char* directory;
  };
  const Case cases[] = {
      {"C:\\tools\\pack.exe", std::nullopt, "C:\\tools\\pack", "C:\\tools"},
      {"/opt/tools/pack.exe.bak", std::nullopt, "/opt/tools/pack.exe.bak", "/opt/tools"},
      {"/opt/tools/ovixpatch", std::string("/home/u/work/"), "/home/u/work/ovixpatch",
       "/home/u/work"},
      {"/opt/tools/ovixpatch", std::string(""), "/opt/tools/ovixpatch", "/opt/tools"},
      {"pack.exe", std::nullopt, "pack", ""},
      {"", std::string("/home/u"), "", ""},
  };
  for (const Case& c : cases) {
    ovix::fillProgramPaths(c.exe, c.home);
    EXPECT_EQ(ovix::moduleBasePath, c.base) << c.exe;
    EXPECT_EQ(ovix::programDirectory, c.directory) << c.exe;
  }
}

// ZedaSystem's installation root is found from the program file as well.
TEST(ZedaSystemTest, InstallRootFollowsVariableThenBinLayoutThenProgramDirectory) {
  struct Case {
    const char* exe;
    std::optional<std::string> variable;
    const char* root;
  };
  const Case cases[] = {
      {"/opt/ovix/bin/linux64/ovixpatch", std::nullopt, "/opt/ovix"},
      {"/opt/ovix/bin/linux64/ovixpatch", std::string("/srv/suite"), "/srv/suite"},
      {"/opt/ovix/bin/linux64/ovixpatch", std::string(""), "/opt/ovix"},  // empty: unset
      {"/home/u/tools/ovixpatch", std::nullopt, "/home/u/tools"},
      {"/bin/ovixpatch", std::nullopt, "/bin"},
      {"", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    ovix::testing::FaultEnv env;
    env.exePath = c.exe;
    env.variables["OVIX_ROOT"] = c.variable;
    EXPECT_EQ(ZedaSystem::resolveInstallRoot(env), c.root) << c.exe;
  }
}

}  // namespace
