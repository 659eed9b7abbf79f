// The kill list, finding processes by name, stopping the suite and starting
// the design program again.  Names are matched on a fake process list; one
// test lists and ends a real process, and the restarts start real programs.

#include "update/process_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/application.h"
#include "app/easy_log.h"
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace {

#ifdef _WIN32
// The stand-in program of the tests below is a copy of this test program
// started with OVIX_TEST_PROBE set: "wait" waits to be ended; a file name
// gets "<process id> <whether it has a console>" written to it.
const bool kIsProbe = [] {
  const char* probe = std::getenv("OVIX_TEST_PROBE");
  if (probe == nullptr) return false;
  if (std::string(probe) == "wait") Sleep(60000);
  const std::string file = probe;
  std::ofstream(file + ".tmp") << GetCurrentProcessId() << ' ' << (GetConsoleWindow() != nullptr);
  std::filesystem::rename(file + ".tmp", file);
  ExitProcess(0);
}();

std::wstring thisProgram() {
  wchar_t self[MAX_PATH];
  return std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
}
#endif

using Lines = std::vector<std::string>;
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
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  void writeKillList(const std::string& text) { root_.write("bin/v80-win32/patchkill.txt", text); }
  // Stops the suite with the user's answer, in a fresh run log.
  bool stop(bool answer = true) {
    ovix::openRunLog(ovix::Env::Default());
    recorder_.answers = {answer};
    return ovix::stopSuiteProcesses(env_);
  }
  // Starts the design program, in a fresh run log; returns the titled messages.
  Lines restart() {
    ovix::openRunLog(ovix::Env::Default());
    recorder_.titled.clear();
    ovix::restartDesignProgram(env_);
    return recorder_.titled;
  }

  Lines logLines() const { return ovix::testing::runLogLines(root_); }

  ovix::testing::TempDir root_;
  FakeProcessEnv env_;
  ovix::testing::ScopedRecorder recorder_;
};

// The program file is removed after the start, as an update does.
#ifdef _WIN32
// A running program file cannot be deleted here; an update moves it aside.
TEST_F(ProcessControlTest, RealProcessesAreFoundByProgramFileEvenWhenMovedAndCanBeEnded) {
  const std::string name = "Probe-" + std::to_string(GetCurrentProcessId());
  const std::string path = root_.file(name + ".exe");
  std::filesystem::copy_file(thisProgram(), path);
  ovix::testing::ScopedEnv probeMode("OVIX_TEST_PROBE", "wait");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(CreateProcessW(std::filesystem::path(path).wstring().c_str(), nullptr, nullptr,
                             nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  CloseHandle(info.hThread);
  std::filesystem::rename(path, root_.file("aside.exe"));

  ovix::Env& real = *ovix::Env::Default();
  EXPECT_EQ(ovix::findProcessId(real, "PROBE-" + std::to_string(GetCurrentProcessId())),
            static_cast<int>(info.dwProcessId));
  EXPECT_TRUE(real.terminateProcess(static_cast<int>(info.dwProcessId)));
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code) && code == 1) << code;  // not by itself
  if (code == STILL_ACTIVE) TerminateProcess(info.hProcess, 2);
  CloseHandle(info.hProcess);
}
#else
TEST_F(ProcessControlTest, RealProcessesAreFoundByProgramFileEvenWhenDeletedAndCanBeEnded) {
  std::string path = root_.file("Probe-" + std::to_string(::getpid()) + ".exe");
  std::filesystem::copy_file("/bin/sleep", path);
  ::chmod(path.c_str(), 0755);
  char* const argv[] = {path.data(), const_cast<char*>("60"), nullptr};
  pid_t probe = 0;
  ASSERT_EQ(::posix_spawn(&probe, path.c_str(), nullptr, nullptr, argv, environ), 0);
  std::filesystem::remove(path);

  ovix::Env& real = *ovix::Env::Default();
  EXPECT_EQ(ovix::findProcessId(real, "PROBE-" + std::to_string(::getpid())), probe);
  EXPECT_TRUE(real.terminateProcess(probe));
  int status = 0;
  ASSERT_EQ(::waitpid(probe, &status, 0), probe);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}
#endif

// A missing kill list is reported and lets the update go on.  Every entry
// is logged as read (comments skipped, blanks kept, line ends dropped); a
// failed end is logged and the run goes on, but a running program that may
// not be ended stops it.  Names match whatever the letter case of either,
// with or without ".exe"; of several namesakes the last one listed is
// ended; a blank around a name or an empty entry matches none.
TEST_F(ProcessControlTest, StopAsksThenEndsListedSuiteProgramsAndLogsEveryEntry) {
  EXPECT_TRUE(stop());
  EXPECT_EQ(recorder_.messages, Lines{"不能读取文件"});
  EXPECT_TRUE(logLines().empty());
  recorder_.messages.clear();

  writeKillList(
      "  # a comment after blanks\n#comment\nmissing.exe\n  OVIXDESIGN\n\t#tab is no blank\n"
      "OVIXDESIGN\r\nZedaDS.exe\nZedaProjMan.Exe\nzedads.exe \n\nlast.exe");
  env_.processes = {
      {1, "ovixdesign.exe"}, {2, "OvixDesign"}, {3, "zedads"}, {4, "ZEDAPROJMAN.EXE"}};
  EXPECT_FALSE(stop(false));
  EXPECT_TRUE(logLines().empty());
  EXPECT_TRUE(stop());
  const std::string none = "can not find process of name :";
  EXPECT_EQ(logLines(),
            (Lines{none + "missing.exe", none + "  OVIXDESIGN", none + "\t#tab is no blank",
                   "Prepare kill OVIXDESIGN:", "Open And Kill Process  Pid:2 Succeed",
                   "Prepare kill ZedaDS.exe:", "Open And Kill Process  Pid:3 Succeed",
                   "Prepare kill ZedaProjMan.Exe:", "Open And Kill Process  Pid:4 Succeed",
                   none + "zedads.exe ", none, none + "last.exe"}));
  EXPECT_EQ(ovix::findProcessId(env_, "zedaprojman"), 4);
  writeKillList("ovixdesign.exe\n");
  env_.failTerminate = true;
  EXPECT_TRUE(stop());
  EXPECT_EQ(logLines(), (Lines{"Prepare kill ovixdesign.exe:", "OpenProcess Pid:2 Fail"}));
  EXPECT_EQ(env_.ended, (std::vector<int>{2, 3, 4, 2}));
  EXPECT_TRUE(recorder_.messages.empty());

  writeKillList("other.exe\novixdesign.exe\n");
  env_.processes = {{1, "other.exe"}, {2, "ovixdesign.exe"}};
  EXPECT_FALSE(stop());
  EXPECT_EQ(recorder_.topmost, (Lines{kStopQuestion, kStopQuestion, kStopQuestion, kStopQuestion,
                                      kStopQuestion, "需要手动关闭所有other.exe"}));
  EXPECT_EQ(recorder_.messages, Lines{"需要手动关闭所有other.exe"});
  EXPECT_EQ(logLines(), Lines{"exist process of name :other.exe need manual close"});
  EXPECT_EQ(env_.ended.size(), 4u);
}

#ifdef _WIN32
// A missing program and one that is none fail with the system's text of
// their error; the one that runs (the stand-in) has no console.
TEST_F(ProcessControlTest, RestartStartsTheDesignProgramDetachedOrShowsWhyNot) {
  const std::string program = "bin/v80-win32/OvixDesign.exe";
  root_.mkdir("bin/v80-win32");  // else its folder is what is missing
  for (DWORD error : {ERROR_FILE_NOT_FOUND, ERROR_BAD_EXE_FORMAT}) {
    SCOPED_TRACE(error);
    if (error == ERROR_BAD_EXE_FORMAT) root_.write(program, "MZ but no program");
    const Lines shown = restart();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "错误: " + ovix::lastErrorText(static_cast<int>(error)));
    EXPECT_EQ(shown[0].find("Unknown error"), std::string::npos) << shown[0];
    EXPECT_EQ(logLines(), Lines{"Restart OvixDesign fail :" + std::to_string(error)});
  }
  std::filesystem::remove(root_.file(program));
  std::filesystem::copy_file(thisProgram(), root_.file(program));
  const std::string started = root_.file("started");
  ovix::testing::ScopedEnv probeMode("OVIX_TEST_PROBE", started);
  EXPECT_TRUE(restart().empty());
  EXPECT_EQ(logLines(), Lines{"Restart OvixDesign success"});
  // A copy of this large program starts slowly under a busy Wine.
  for (int i = 0; i < 6000 && !ovix::Env::Default()->fileExists(started); ++i) Sleep(10);
  std::istringstream probe(root_.read("started"));
  long pid = 0, console = -1;
  probe >> pid >> console;
  ASSERT_NE(pid, 0) << "the design program did not run";
  EXPECT_NE(pid, static_cast<long>(GetCurrentProcessId()));
  EXPECT_EQ(console, 0);
}
#else
// A missing program and one that may not be run fail; the one that runs
// writes its pid, parent and session from /proc/PID/stat.
TEST_F(ProcessControlTest, RestartStartsTheDesignProgramInASessionOfItsOwnOrShowsWhyNot) {
  const std::string program = "bin/v80-win32/OvixDesign.exe";
  for (int error : {ENOENT, EACCES}) {
    SCOPED_TRACE(error);
    if (error == EACCES) root_.write(program, "#!/bin/sh\n");  // not executable
    EXPECT_EQ(restart(), Lines{std::string("错误: ") + std::strerror(error)});
    EXPECT_EQ(logLines(), Lines{"Restart OvixDesign fail :" + std::to_string(error)});
  }
  const std::string started = root_.file("started");
  root_.write(program,
              "#!/bin/sh\nread -r pid comm state ppid pgrp sid rest < /proc/$$/stat\n"
              "echo $pid $ppid $sid > '" +
                  started + ".tmp'\nmv '" + started + ".tmp' '" + started + "'\n");
  ::chmod(root_.file(program).c_str(), 0755);
  EXPECT_TRUE(restart().empty());
  EXPECT_EQ(logLines(), Lines{"Restart OvixDesign success"});
  for (int i = 0; i < 500 && !ovix::Env::Default()->fileExists(started); ++i) ::usleep(10000);
  std::istringstream stat(root_.read("started"));
  long pid = 0, ppid = 0, session = 0;
  stat >> pid >> ppid >> session;
  ASSERT_NE(pid, 0) << "the design program did not run";
  EXPECT_EQ(session, pid);
  EXPECT_NE(ppid, ::getpid());
}
#endif

}  // namespace
