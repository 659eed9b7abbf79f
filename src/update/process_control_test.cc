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
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/easy_log.h"
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

extern char** environ;

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ovix::testing::TempDir;

constexpr char kStopQuestion[] =
    "补丁功能需要关闭OVIX相关进程(Ovix登陆程序/Ovix数据库程序/设计平台程序),是否继续执行？";

// Records titled messages apart from plain ones.
class TitleRecorder : public ovix::testing::ScopedRecorder {
 public:
  struct Titled {
    std::string title;
    std::string text;
  };
  void showTitledMessage(const std::string& title, const std::string& text) override {
    titled.push_back({title, text});
  }
  std::vector<Titled> titled;
};

// Copies of /bin/sleep started under chosen names.  Every process still
// running is killed and reaped when the object goes, whatever the test did.
class TestProcesses {
 public:
  explicit TestProcesses(const TempDir& dir) : dir_(dir) {}
  ~TestProcesses() {
    for (pid_t pid : running_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // Starts "sleep 60" from a program file called `name`; 0 on failure.
  pid_t start(const std::string& name) {
    std::string path = dir_.file("programs/" + name);
    if (!std::filesystem::exists(path)) {
      std::filesystem::create_directories(dir_.file("programs"));
      std::filesystem::copy_file("/bin/sleep", path);
      ::chmod(path.c_str(), 0755);
    }
    char* const argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("60"), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return 0;
    running_.insert(pid);
    return pid;
  }

  // The wait status once `pid` has ended within a few seconds; nullopt while
  // it still runs.
  std::optional<int> waitForEnd(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        running_.erase(pid);
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

  bool isRunning(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

  const std::set<pid_t>& running() const { return running_; }

 private:
  const TempDir& dir_;
  std::set<pid_t> running_;
};

bool killedBySigkill(std::optional<int> status) {
  return status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL;
}

// The real system, with the process list cut down to the test's own
// processes so that nothing else on the machine is ever touched.
class OwnProcessesEnv : public ovix::EnvWrapper {
 public:
  explicit OwnProcessesEnv(const TestProcesses& processes)
      : EnvWrapper(ovix::Env::Default()), processes_(processes) {}

  bool listProcesses(std::vector<ovix::ProcessInfo>* out) override {
    if (!EnvWrapper::listProcesses(out)) return false;
    std::erase_if(*out, [this](const ovix::ProcessInfo& p) {
      return processes_.running().count(p.pid) == 0;
    });
    return true;
  }
  bool terminateProcess(int pid) override {
    return !failTerminate && EnvWrapper::terminateProcess(pid);
  }

  bool failTerminate = false;

 private:
  const TestProcesses& processes_;
};

class ProcessControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZedaSystem::setInstallRoot(root_.path());
    root_.mkdir("temp");
    ovix::openRunLog(ovix::Env::Default());
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  void writeKillList(const std::string& text) {
    root_.write("bin/v80-win32/patchkill.txt", text);
  }

  // The run log's messages, each line without its time stamp.
  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    std::istringstream in(root_.read("temp/autoPatchLog.txt"));
    for (std::string line; std::getline(in, line);) {
      size_t stamp = line.rfind("\t[");
      lines.push_back(stamp == std::string::npos ? line : line.substr(0, stamp));
    }
    return lines;
  }

  TempDir root_;
  TempDir programs_;
  TestProcesses processes_{programs_};
  OwnProcessesEnv env_{processes_};
  TitleRecorder recorder_;
};

// --- the kill list -----------------------------------------------------------

TEST_F(ProcessControlTest, KillListSkipsCommentsAndKeepsBlanksOfEntries) {
  writeKillList(
      "  # leading blanks before a comment\n"
      "#comment\n"
      "ovixdesign.exe\n"
      "zedads.exe  \n"
      "\n"
      "  lead.exe\n"
      "\t#tab is no blank\n"
      "crlf.exe\r\n"
      "last.exe");
  EXPECT_THAT(ovix::readKillList(env_),
              ElementsAre("ovixdesign.exe", "zedads.exe  ", "", "  lead.exe", "\t#tab is no blank",
                          "crlf.exe", "last.exe"));
  EXPECT_THAT(recorder_.messages, IsEmpty());
}

TEST_F(ProcessControlTest, MissingKillListIsReportedAndLetsTheUpdateGoOn) {
  EXPECT_THAT(ovix::readKillList(env_), IsEmpty());
  EXPECT_THAT(recorder_.messages, ElementsAre("不能读取文件"));
  recorder_.answers = {true};
  EXPECT_TRUE(ovix::stopSuiteProcesses(env_));
  EXPECT_THAT(logLines(), IsEmpty());
}

// --- finding processes -------------------------------------------------------

TEST_F(ProcessControlTest, RealProcessListNamesProgramFilesEvenWhenDeleted) {
  std::string name = "Probe-" + std::to_string(::getpid()) + ".exe";
  pid_t probe = processes_.start(name);
  ASSERT_NE(probe, 0);
  std::filesystem::remove(programs_.file("programs/" + name));

  std::vector<ovix::ProcessInfo> all;
  ASSERT_TRUE(ovix::Env::Default()->listProcesses(&all));
  auto nameOf = [&all](int pid) -> std::string {
    for (const ovix::ProcessInfo& p : all) {
      if (p.pid == pid) return p.exeName;
    }
    return "<absent>";
  };
  EXPECT_EQ(nameOf(::getpid()), "ovix_tests");
  EXPECT_EQ(nameOf(probe), name);

  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(ovix::findProcessId(*ovix::Env::Default(), upper), probe);
}

// --- stopping the suite --------------------------------------------------------

TEST_F(ProcessControlTest, StopKillsTerminableProgramsAndLogsMissingOnes) {
  writeKillList("# suite\nmissing.exe\novixdesign.exe\n");
  pid_t design = processes_.start("ovixdesign.exe");
  ASSERT_NE(design, 0);
  recorder_.answers = {true};

  EXPECT_TRUE(ovix::stopSuiteProcesses(env_));
  EXPECT_TRUE(killedBySigkill(processes_.waitForEnd(design)));
  EXPECT_THAT(recorder_.questions, ElementsAre(kStopQuestion));
  EXPECT_THAT(recorder_.messages, IsEmpty());
  EXPECT_THAT(logLines(),
              ElementsAre("can not find process of name :missing.exe",
                          "Prepare kill ovixdesign.exe:",
                          "Open And Kill Process  Pid:" + std::to_string(design) + " Succeed"));
}

TEST_F(ProcessControlTest, TerminableNamesMatchWithoutRegardToCaseOrExe) {
  struct Case {
    const char* entry;
    const char* program;
  };
  const Case cases[] = {
      {"OVIXDESIGN.EXE", "ovixdesign.exe"},
      {"zedads.exe", "ZedaDS.exe"},
      {"ZedaProjMan.Exe", "zedaprojman.exe"},
      {"OvixDesign", "OvixDesign.exe"},
      {"ovixdesign.exe", "ovixdesign"},
      {"ZEDADS", "zedads"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    writeKillList(std::string(c.entry) + "\n");
    pid_t pid = processes_.start(c.program);
    ASSERT_NE(pid, 0);
    recorder_.answers = {true};
    EXPECT_TRUE(ovix::stopSuiteProcesses(env_));
    EXPECT_TRUE(killedBySigkill(processes_.waitForEnd(pid)));
  }
}

TEST_F(ProcessControlTest, EntryWithTrailingBlankMatchesNothing) {
  writeKillList("ovixdesign.exe \n");
  pid_t design = processes_.start("ovixdesign.exe");
  ASSERT_NE(design, 0);
  recorder_.answers = {true};

  EXPECT_TRUE(ovix::stopSuiteProcesses(env_));
  EXPECT_TRUE(processes_.isRunning(design));
  EXPECT_THAT(logLines(), ElementsAre("can not find process of name :ovixdesign.exe "));
}

TEST_F(ProcessControlTest, OnlyTheLastListedOfTwoNamesakesIsKilled) {
  writeKillList("ovixdesign.exe\n");
  pid_t a = processes_.start("ovixdesign.exe");
  pid_t b = processes_.start("ovixdesign.exe");
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  std::vector<ovix::ProcessInfo> listed;
  ASSERT_TRUE(env_.listProcesses(&listed));
  ASSERT_EQ(listed.size(), 2u);
  pid_t last = listed[1].pid;
  pid_t other = last == a ? b : a;
  EXPECT_EQ(ovix::findProcessId(env_, "OvixDesign.exe"), last);
  EXPECT_EQ(ovix::findProcessId(env_, "ovixdesign"), last);  // with or without ".exe"
  EXPECT_EQ(ovix::findProcessId(env_, ""), 0);
  recorder_.answers = {true};

  EXPECT_TRUE(ovix::stopSuiteProcesses(env_));
  EXPECT_TRUE(killedBySigkill(processes_.waitForEnd(last)));
  EXPECT_TRUE(processes_.isRunning(other));
}

TEST_F(ProcessControlTest, RunningProgramThatMayNotBeKilledStopsTheRun) {
  writeKillList("other.exe\novixdesign.exe\n");
  pid_t other = processes_.start("other.exe");
  pid_t design = processes_.start("ovixdesign.exe");
  ASSERT_NE(other, 0);
  ASSERT_NE(design, 0);
  recorder_.answers = {true};

  EXPECT_FALSE(ovix::stopSuiteProcesses(env_));
  EXPECT_THAT(recorder_.messages, ElementsAre("需要手动关闭所有other.exe"));
  EXPECT_THAT(recorder_.topmost, ElementsAre(kStopQuestion, "需要手动关闭所有other.exe"));
  EXPECT_THAT(logLines(), ElementsAre("exist process of name :other.exe need manual close"));
  EXPECT_TRUE(processes_.isRunning(other));
  EXPECT_TRUE(processes_.isRunning(design));
}

TEST_F(ProcessControlTest, AnsweringNoStopsNothing) {
  writeKillList("ovixdesign.exe\n");
  pid_t design = processes_.start("ovixdesign.exe");
  ASSERT_NE(design, 0);
  recorder_.answers = {false};

  EXPECT_FALSE(ovix::stopSuiteProcesses(env_));
  EXPECT_THAT(recorder_.questions, ElementsAre(kStopQuestion));
  EXPECT_TRUE(processes_.isRunning(design));
  EXPECT_THAT(logLines(), IsEmpty());
}

TEST_F(ProcessControlTest, FailedKillIsLoggedAndTheRunGoesOn) {
  writeKillList("ovixdesign.exe\nzedads.exe\n");
  pid_t design = processes_.start("ovixdesign.exe");
  ASSERT_NE(design, 0);
  env_.failTerminate = true;
  recorder_.answers = {true};

  EXPECT_TRUE(ovix::stopSuiteProcesses(env_));
  EXPECT_THAT(logLines(), ElementsAre("Prepare kill ovixdesign.exe:",
                                      "OpenProcess Pid:" + std::to_string(design) + " Fail",
                                      "can not find process of name :zedads.exe"));
}

// --- restarting the design program ---------------------------------------------

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
  struct Case {
    const char* name;
    const char* contents;  // null: no design program
    int error;
  };
  const Case cases[] = {
      {"missing", nullptr, ENOENT},
      {"not executable", "#!/bin/sh\n", EACCES},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(root_.file("bin/v80-win32/OvixDesign.exe"));
    if (c.contents != nullptr) root_.write("bin/v80-win32/OvixDesign.exe", c.contents);
    recorder_.titled.clear();
    ovix::openRunLog(ovix::Env::Default());

    ovix::restartDesignProgram(env_);
    ASSERT_EQ(recorder_.titled.size(), 1u);
    EXPECT_EQ(recorder_.titled[0].title, "错误");
    EXPECT_EQ(recorder_.titled[0].text, std::strerror(c.error));
    EXPECT_EQ(recorder_.titled[0].text, ovix::lastErrorText(c.error));
    EXPECT_THAT(recorder_.topmost, IsEmpty());
    EXPECT_THAT(logLines(), ElementsAre("Restart OvixDesign fail :" + std::to_string(c.error)));
  }
}

}  // namespace
