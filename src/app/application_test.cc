#include "app/application.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/easy_log.h"
#include "package/database.h"
#include "platform/program_paths.h"
#include "platform/zeda_system.h"
#include "testing/fault_env.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

// Records which entry point a run reached and with which package kind.
class RecordingHost : public ovix::JobHost {
 public:
  std::vector<std::string> calls;
  bool runLocalPackage(const std::string& kind) override { return note("local " + kind); }
  bool runServerCommit(const std::string& kind) override { return note("commit " + kind); }
  bool runUpdatePatch() override { return note("update"); }
  bool runProjectInfo() override { return note("info"); }
  bool runCheckUpdate() override { return note("checkupdate"); }

 private:
  bool note(std::string call) {
    calls.push_back(std::move(call));
    return true;
  }
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.exePath = dir_.file("bin/linux64/ovixpatch");
    env_.variables = {{"HOME", dir_.file("user")},
                      {"OVIX_HOME", std::nullopt},
                      {"XDG_DATA_HOME", std::nullopt},
                      {"XDG_STATE_HOME", std::nullopt}};
    ZedaSystem::setInstallRoot(dir_.path());
    dir_.mkdir("bin/linux64");
    dir_.mkdir("temp");
    ovix::openRunLog(&env_);
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  // Runs `tail` and returns whether a job ran and succeeded; InitInstance
  // returns false whatever the outcome.
  bool run(const std::string& tail, std::optional<std::string> home = {}) {
    host_.calls.clear();
    ovix::COvixServerCommitApp app(&env_, &host_, {tail, std::move(home)});
    EXPECT_FALSE(app.InitInstance()) << tail;
    return app.jobSucceeded();
  }

  TempDir dir_;
  ovix::testing::FaultEnv env_;
  RecordingHost host_;
};

// Only a whole switch starts a job (the calls tell the jobs apart).
// Start-up empties the run log with its first line, logs the command line
// unchanged and names the database log whatever the command line.  (The
// record classes it registers are what ovixpatch pack writes with.)
TEST_F(ApplicationTest, EachSwitchReachesItsJobAndStartUpLogsEveryCommandLine) {
  dir_.write("temp/autoPatchLog.txt", "previous run\n");
  ZedaSystem::setProjectDbtype(0);
  const std::pair<const char*, const char*> cases[] = {
      {"-pack", "local DLL"},          {"-project", "local CONFIG"}, {"-upload", "commit DLL"},
      {"-upproject", "commit CONFIG"}, {"-download", "update"},      {"-info", "info"},
      {"-checkupdate", "checkupdate"}};
  for (const auto& [tail, call] : cases) {
    EXPECT_TRUE(run(tail));
    EXPECT_EQ(host_.calls, std::vector<std::string>{call}) << tail;
  }
  for (const char* tail :
       {"", "-PACK", "-Pack", "-pack ", " -pack", "-pack x", "pack", "-pack -upload",
        "-upload-pack", "/pack", "-checkupdate\n", "-pack %s %d %n 100%"}) {
    EXPECT_FALSE(run(tail));
    EXPECT_TRUE(host_.calls.empty()) << tail;
    EXPECT_NE(dir_.read("temp/autoPatchLog.txt").find("\n" + std::string(tail) + "\t["),
              std::string::npos) << tail;
  }
  std::string log = dir_.read("temp/autoPatchLog.txt");
  EXPECT_EQ(log.rfind("Enter update app,checking cmd......\t[", 0), 0u) << log;
  EXPECT_EQ(ZedaSystem::getProjectDbtype(), 2);
  EXPECT_EQ(ZdDbSystem::dbLogFile(), dir_.file("bin/linux64/ovixpatch.dblog"));
}

TEST_F(ApplicationTest, ReadOnlyInstallationKeepsItsFilesWithTheUser) {
  struct Case {
    const char* name;
    std::vector<std::string> readOnly;  // below the test folder; "" is the folder itself
    std::optional<std::string> dataHome, stateHome, homeOption;
    const char* programDirectory;  // below the test folder
    const char* runLog;
  };
  const std::vector<std::string> installation = {"bin/linux64", "", "temp"};
  const Case cases[] = {
      // First, while the user's folder is still empty.
      {"user folder unusable", {"bin/linux64", "", "temp", "user"}, {}, {}, {}, "bin/linux64",
       "temp/autoPatchLog.txt"},
      {"read-only", installation, {}, {}, {}, "user/.local/share/ovix",
       "user/.local/state/ovix/autoPatchLog.txt"},
      {"XDG dirs", installation, dir_.file("data"), dir_.file("state"), {}, "data/ovix",
       "state/ovix/autoPatchLog.txt"},
      {"relative XDG dirs", installation, "data", "state", {}, "user/.local/share/ovix",
       "user/.local/state/ovix/autoPatchLog.txt"},
      {"--home", installation, {}, {}, dir_.file("home"), "home", nullptr},
      {"writable temp", {"bin/linux64", ""}, {}, {}, {}, nullptr, "temp/autoPatchLog.txt"},
  };
  for (const char* dir : {"user", "data", "state", "home"}) dir_.mkdir(dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env_.readOnlyDirs.clear();
    for (const std::string& dir : c.readOnly)
      env_.readOnlyDirs.insert(dir.empty() ? dir_.path() : dir_.file(dir));
    env_.variables["XDG_DATA_HOME"] = c.dataHome;
    env_.variables["XDG_STATE_HOME"] = c.stateHome;
    env_.variables["LOCALAPPDATA"] = std::nullopt;  // Windows' own comes before HOME
    if (c.runLog != nullptr) {
      EXPECT_EQ(ovix::runLogPath(&env_), dir_.file(c.runLog));
    }
    if (c.programDirectory == nullptr) continue;
    run("-info", c.homeOption);
    EXPECT_EQ(ovix::programDirectory, dir_.file(c.programDirectory));
    EXPECT_TRUE(env_.isDirectory(ovix::programDirectory));
  }
}

}  // namespace
