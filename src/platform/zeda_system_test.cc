#include "platform/zeda_system.h"

#include <gtest/gtest.h>

#include "testing/fault_env.h"

namespace {

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
