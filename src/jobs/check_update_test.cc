#include "jobs/check_update.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/easy_log.h"
#include "cli/terminal_presenter.h"
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ovix::testing::TempDir;

// Records titled messages apart from plain ones.
class TitleRecorder : public ovix::testing::ScopedRecorder {
 public:
  void showTitledMessage(const std::string& title, const std::string& text) override {
    titled.push_back(title + ": " + text);
  }
  std::vector<std::string> titled;
};

// Steps that record their calls and answer from a script.
class FakeSteps : public ovix::CheckUpdateSteps {
 public:
  bool check(ovix::Env&, const std::string& dir, const std::string& ip,
             const std::string& port) override {
    calls.push_back("check " + dir + " " + ip + " " + port);
    bool found = checks.empty() ? false : checks.front();
    if (!checks.empty()) checks.pop_front();
    return found;
  }
  bool apply(ovix::Env&, const std::string& dir, const std::string& ip,
             const std::string& port) override {
    calls.push_back("apply " + dir + " " + ip + " " + port);
    return false;  // the run goes on whatever the outcome
  }
  bool stopSuite(ovix::Env&) override {
    calls.push_back("stop");
    return stopAllowed;
  }
  void restart(ovix::Env&) override { calls.push_back("restart"); }
  void openLog(ovix::Env&, const std::string& path) override { calls.push_back("log " + path); }

  std::deque<bool> checks;  // results of the checks in turn
  bool stopAllowed = true;
  std::vector<std::string> calls;
};

class CheckUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZedaSystem::setInstallRoot(root_.path());
    root_.mkdir("temp");
    ovix::openRunLog(ovix::Env::Default());
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  void writeServer(const std::string& body) {
    root_.write("sys/MysqlIpPort.ini", "[OvixPatch]\n" + body);
  }

  bool run() { return ovix::runCheckUpdate(*ovix::Env::Default(), steps_); }

  // The run log's lines, each without its time stamp.
  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    std::istringstream in(root_.read("temp/autoPatchLog.txt"));
    for (std::string line; std::getline(in, line);) {
      size_t stamp = line.rfind("\t[");
      lines.push_back(stamp == std::string::npos ? line : line.substr(0, stamp));
    }
    return lines;
  }

  std::string check() const { return "check " + root_.path() + " 10.1.2.3 3306"; }
  std::string apply() const { return "apply " + root_.path() + " 10.1.2.3 3306"; }

  TempDir root_;
  FakeSteps steps_;
  TitleRecorder recorder_;
};

TEST_F(CheckUpdateTest, MissingServerAddressIsOnlyLogged) {
  struct Case {
    const char* name;
    const char* ini;  // null: no server address file
    const char* serverLine;
  };
  const Case cases[] = {
      {"no file", nullptr, "当前服务器配置:IP ,PORT "},
      {"no port", "IP=10.1.2.3\n", "当前服务器配置:IP 10.1.2.3,PORT "},
      {"no ip", "PORT=3306\n", "当前服务器配置:IP ,PORT 3306"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(root_.file("sys/MysqlIpPort.ini").c_str());
    if (c.ini != nullptr) writeServer(c.ini);
    ovix::openRunLog(ovix::Env::Default());

    EXPECT_FALSE(run());
    EXPECT_THAT(logLines(), ElementsAre(c.serverLine, "无法访问更新服务器"));
  }
  EXPECT_THAT(steps_.calls, IsEmpty());
  EXPECT_THAT(recorder_.messages, IsEmpty());
  EXPECT_THAT(recorder_.questions, IsEmpty());
}

TEST_F(CheckUpdateTest, UpToDateInstallationTouchesNothing) {
  writeServer("ip=10.1.2.3\nPort=3306\n");
  steps_.checks = {false};

  EXPECT_TRUE(run());
  EXPECT_THAT(steps_.calls, ElementsAre(check()));
  EXPECT_THAT(logLines(), ElementsAre("当前服务器配置:IP 10.1.2.3,PORT 3306",
                                      "First check pass and not excute the second check"));
  EXPECT_THAT(recorder_.messages, IsEmpty());
  EXPECT_THAT(recorder_.titled, IsEmpty());
}

TEST_F(CheckUpdateTest, RefusedStopEndsTheRunWithoutRestart) {
  writeServer("IP=10.1.2.3\nPORT=3306\n");
  steps_.checks = {true};
  steps_.stopAllowed = false;

  EXPECT_FALSE(run());
  EXPECT_THAT(steps_.calls, ElementsAre(check(), "stop"));
  EXPECT_THAT(recorder_.titled, IsEmpty());
}

TEST_F(CheckUpdateTest, PatchThatVanishedBeforeTheSecondCheckEndsWithRestart) {
  writeServer("IP=10.1.2.3\nPORT=3306\n");
  steps_.checks = {true, false};

  EXPECT_TRUE(run());
  EXPECT_THAT(steps_.calls, ElementsAre(check(), "stop", check(), "restart"));
  EXPECT_THAT(recorder_.titled, ElementsAre("Info: 更新结束"));
  EXPECT_THAT(recorder_.topmost, ElementsAre("更新结束"));
  EXPECT_THAT(recorder_.questions, IsEmpty());
}

TEST_F(CheckUpdateTest, UpdateAppliesOffersTheLogAndRestarts) {
  for (bool viewLog : {true, false}) {
    SCOPED_TRACE(viewLog ? "view the log" : "do not view the log");
    writeServer("IP=10.1.2.3\nPORT=3306\n");
    ovix::openRunLog(ovix::Env::Default());
    steps_.calls.clear();
    steps_.checks = {true, true};
    recorder_.questions.clear();
    recorder_.topmost.clear();
    recorder_.answers = {viewLog};

    EXPECT_TRUE(run());
    std::vector<std::string> expected = {check(), "stop", check(), apply()};
    if (viewLog) expected.push_back("log " + root_.file("temp/autoPatchLog.txt"));
    expected.push_back("restart");
    EXPECT_EQ(steps_.calls, expected);
    EXPECT_THAT(recorder_.questions, ElementsAre("更新结束,是否查看日志？"));
    EXPECT_THAT(recorder_.topmost, ElementsAre("更新结束,是否查看日志？"));
    EXPECT_THAT(logLines(), ElementsAre("当前服务器配置:IP 10.1.2.3,PORT 3306", "", "", "",
                                        "Current version need to update,prepare download···"));
  }
}

TEST_F(CheckUpdateTest, UnreachablePatchStoreEndsAfterTheFirstCheck) {
  // Empty values are values: the check runs and fails to open the store.
  for (const std::string& address : {"IP=file:" + root_.file("no-such-server") + "\nPORT=1\n",
                                     std::string("IP=\nPORT=\n")}) {
    SCOPED_TRACE(address);
    writeServer(address);
    recorder_.messages.clear();

    EXPECT_TRUE(ovix::runCheckUpdate(*ovix::Env::Default()));
    EXPECT_EQ(logLines().back(), "First check pass and not excute the second check");
    ASSERT_FALSE(recorder_.messages.empty());
    EXPECT_THAT(recorder_.messages[0], ::testing::StartsWith("版本补丁数据库不存在:"));
    EXPECT_THAT(recorder_.questions, IsEmpty());
  }
}

TEST_F(CheckUpdateTest, OpeningTheLogShowsItsLines) {
  std::string path = root_.write("temp/autoPatchLog.txt", "first\t[t]\nsecond\t[t]\n");

  ovix::CheckUpdateSteps().openLog(*ovix::Env::Default(), path);
  ASSERT_EQ(recorder_.texts.size(), 1u);
  EXPECT_EQ(recorder_.texts[0].title, "日志记录");
  EXPECT_EQ(recorder_.texts[0].text, "first\t[t]\r\nsecond\t[t]\r\n");

  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ovix::cli::TerminalPresenter terminal(ovix::cli::Answer::kNo, nullptr, out, out);
  terminal.openLog(*ovix::Env::Default(), path);
  std::rewind(out);
  char buf[64] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buf, n), "first\t[t]\nsecond\t[t]\n");
}

}  // namespace
