// The kill list, finding processes by name, stopping the suite and starting
// the design program again.  Names are matched on a fake process list; one
// test lists and ends a real process, and the restarts start real programs.

#include "update/process_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "app/application.h"
#include "app/easy_log.h"
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

extern char** environ;

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ovix::ProcessInfo;

constexpr char kStopQuestion[] =
    "补丁功能需要关闭OVIX相关进程(Ovix登陆程序/Ovix数据库程序/设计平台程序),是否继续执行？";

// The real system with a process list the test writes; ends are recorded,
// never carried out.
class FakeProcessEnv : public ovix::EnvWrapper {
 public:
  FakeProcessEnv() : EnvWrapper(ovix::Env::Default()) {}
  bool listProcesses(std::vector<ProcessInfo>* out) override {
    *out = processes;
    return true;
  }
  bool terminateProcess(int pid) override {
    ended.push_back(pid);
    return !failTerminate;
  }
  std::vector<ProcessInfo> processes;
  std::vector<int> ended;
  bool failTerminate = false;
};

class ProcessControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZedaSystem::setInstallRoot(root_.path());
    root_.mkdir("temp");
    ovix::openRunLog(ovix::Env::Default());
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  void writeKillList(const std::string& text) { root_.write("bin/v80-win32/patchkill.txt", text); }
  // Stops the suite with the user's consent, in a fresh run log.
  bool stop() {
    ovix::openRunLog(ovix::Env::Default());
    recorder_.answers = {true};
    return ovix::stopSuiteProcesses(env_);
  }

  // The run log's messages, each line without its time stamp.
  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    std::istringstream in(root_.read("temp/autoPatchLog.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.rfind("\t[")));
    return lines;
  }

  ovix::testing::TempDir root_;
  FakeProcessEnv env_;
  ovix::testing::ScopedRecorder recorder_;
};

TEST_F(ProcessControlTest, KillListSkipsCommentsAndKeepsBlanksOfEntries) {
  writeKillList(
      "  # leading blanks before a comment\n#comment\novixdesign.exe\nzedads.exe  \n\n  lead.exe\n"
      "\t#tab is no blank\ncrlf.exe\r\nlast.exe");
  EXPECT_THAT(ovix::readKillList(env_),
              ElementsAre("ovixdesign.exe", "zedads.exe  ", "", "  lead.exe", "\t#tab is no blank",
                          "crlf.exe", "last.exe"));
  EXPECT_THAT(recorder_.messages, IsEmpty());
}

TEST_F(ProcessControlTest, MissingKillListIsReportedAndLetsTheUpdateGoOn) {
  EXPECT_THAT(ovix::readKillList(env_), IsEmpty());
  EXPECT_THAT(recorder_.messages, ElementsAre("不能读取文件"));
  EXPECT_TRUE(stop());
  EXPECT_THAT(logLines(), IsEmpty());
}

TEST_F(ProcessControlTest, RealProcessesAreListedByProgramFileEvenWhenDeletedAndCanBeEnded) {
  std::string name = "Probe-" + std::to_string(::getpid()) + ".exe";
  std::string path = root_.file(name);
  std::filesystem::copy_file("/bin/sleep", path);
  ::chmod(path.c_str(), 0755);
  char* const argv[] = {path.data(), const_cast<char*>("60"), nullptr};
  pid_t probe = 0;
  ASSERT_EQ(::posix_spawn(&probe, path.c_str(), nullptr, nullptr, argv, environ), 0);
  std::filesystem::remove(path);

  ovix::Env& real = *ovix::Env::Default();
  std::vector<ProcessInfo> all;
  EXPECT_TRUE(real.listProcesses(&all));
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(ovix::findProcessId(real, upper), probe);
  EXPECT_TRUE(real.terminateProcess(probe));
  int status = 0;
  ASSERT_EQ(::waitpid(probe, &status, 0), probe);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  std::map<int, std::string> names;
  for (const ProcessInfo& p : all) names[p.pid] = p.exeName;
  EXPECT_EQ(names[::getpid()], "ovix_tests");
  EXPECT_EQ(names[probe], name);
}

TEST_F(ProcessControlTest, StopAsksThenEndsListedSuiteProgramsAndLogsEveryEntry) {
  writeKillList("# suite\nmissing.exe\novixdesign.exe\n");
  env_.processes = {{41, "ovixdesign.exe"}};
  recorder_.answers = {false};
  EXPECT_FALSE(ovix::stopSuiteProcesses(env_));  // the user says no
  EXPECT_THAT(env_.ended, IsEmpty());
  EXPECT_THAT(logLines(), IsEmpty());

  EXPECT_TRUE(stop());
  EXPECT_THAT(env_.ended, ElementsAre(41));
  EXPECT_THAT(recorder_.questions, ElementsAre(kStopQuestion, kStopQuestion));
  EXPECT_THAT(recorder_.messages, IsEmpty());
  EXPECT_THAT(logLines(), ElementsAre("can not find process of name :missing.exe",
                                      "Prepare kill ovixdesign.exe:",
                                      "Open And Kill Process  Pid:41 Succeed"));
  env_.failTerminate = true;  // a failed end is logged and the run goes on
  EXPECT_TRUE(stop());
  EXPECT_THAT(logLines(), ElementsAre("can not find process of name :missing.exe",
                                      "Prepare kill ovixdesign.exe:", "OpenProcess Pid:41 Fail"));
}

TEST_F(ProcessControlTest, NamesMatchWithoutRegardToCaseOrExeAndTheLastNamesakeIsEnded) {
  struct Case {
    const char* entry;
    std::vector<ProcessInfo> running;
    std::vector<int> ended;
  };
  const Case cases[] = {
      {"OVIXDESIGN.EXE", {{1, "ovixdesign.exe"}}, {1}},
      {"zedads.exe", {{1, "ZedaDS.exe"}}, {1}},
      {"ZedaProjMan.Exe", {{1, "zedaprojman.exe"}}, {1}},
      {"OvixDesign", {{1, "OvixDesign.exe"}}, {1}},
      {"ovixdesign.exe", {{1, "ovixdesign"}}, {1}},
      {"ZEDADS", {{1, "zedads"}}, {1}},
      {"ovixdesign.exe ", {{1, "ovixdesign.exe"}}, {}},  // a trailing blank matches nothing
      {"ovixdesign.exe", {{1, "ovixdesign.exe"}, {2, "zedads.exe"}, {3, "OvixDesign"}}, {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    writeKillList(std::string(c.entry) + "\n");
    env_.processes = c.running;
    env_.ended.clear();
    EXPECT_TRUE(stop());
    EXPECT_EQ(env_.ended, c.ended);
    if (c.ended.empty()) {
      EXPECT_THAT(logLines(), ElementsAre("can not find process of name :" + std::string(c.entry)));
    }
  }
  EXPECT_EQ(ovix::findProcessId(env_, ""), 0);
}

TEST_F(ProcessControlTest, RunningProgramThatMayNotBeKilledStopsTheRun) {
  writeKillList("other.exe\novixdesign.exe\n");
  env_.processes = {{1, "other.exe"}, {2, "ovixdesign.exe"}};
  EXPECT_FALSE(stop());
  EXPECT_THAT(recorder_.messages, ElementsAre("需要手动关闭所有other.exe"));
  EXPECT_THAT(recorder_.topmost, ElementsAre(kStopQuestion, "需要手动关闭所有other.exe"));
  EXPECT_THAT(logLines(), ElementsAre("exist process of name :other.exe need manual close"));
  EXPECT_THAT(env_.ended, IsEmpty());
}

TEST_F(ProcessControlTest, RestartStartsTheDesignProgramInASessionOfItsOwn) {
  std::string marker = root_.file("started");
  std::string program = root_.write("bin/v80-win32/OvixDesign.exe",
                                    "#!/bin/sh\nread -r stat < /proc/$$/stat\n"
                                    "echo \"$stat\" > '" + marker + ".tmp'\n"
                                    "mv '" + marker + ".tmp' '" + marker + "'\n");
  ::chmod(program.c_str(), 0755);

  ovix::restartDesignProgram(env_);
  for (int i = 0; i < 500 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  // /proc/PID/stat: "pid (comm) state ppid pgrp session ...".
  std::istringstream stat(root_.read("started"));
  long pid = 0, ppid = 0, pgrp = 0, session = 0;
  std::string comm, state;
  stat >> pid >> comm >> state >> ppid >> pgrp >> session;
  ASSERT_NE(pid, 0) << "the design program did not run";
  EXPECT_EQ(session, pid);
  EXPECT_NE(session, ::getsid(0));
  EXPECT_NE(ppid, ::getpid());
  EXPECT_THAT(recorder_.titled, IsEmpty());
  EXPECT_THAT(logLines(), ElementsAre("Restart OvixDesign success"));
}

TEST_F(ProcessControlTest, RestartFailureShowsTheErrorTextAndLogsItsCode) {
  for (int error : {ENOENT, EACCES}) {
    SCOPED_TRACE(error);
    if (error == EACCES) root_.write("bin/v80-win32/OvixDesign.exe", "#!/bin/sh\n");  // not executable
    recorder_.titled.clear();
    ovix::openRunLog(ovix::Env::Default());

    ovix::restartDesignProgram(env_);
    EXPECT_THAT(recorder_.titled, ElementsAre(std::string("错误: ") + std::strerror(error)));
    EXPECT_EQ(ovix::lastErrorText(error), std::strerror(error));
    EXPECT_THAT(recorder_.topmost, IsEmpty());
    EXPECT_THAT(logLines(), ElementsAre("Restart OvixDesign fail :" + std::to_string(error)));
  }
}

}  // namespace
