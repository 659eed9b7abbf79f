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
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ovix::testing::TempDir;

// Steps that record their calls and answer from a script.
class FakeSteps : public ovix::CheckUpdateSteps {
 public:
  bool check(ovix::Env&, const std::string& dir, const std::string& ip,
             const std::string& port) override {
    calls.push_back("check " + dir + " " + ip + " " + port);
    bool found = !checks.empty() && checks.front();
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
      lines.push_back(line.substr(0, line.rfind("\t[")));
    }
    return lines;
  }

  std::string check() const { return "check " + root_.path() + " 10.1.2.3 3306"; }
  std::string apply() const { return "apply " + root_.path() + " 10.1.2.3 3306"; }

  TempDir root_;
  FakeSteps steps_;
  ovix::testing::ScopedRecorder recorder_;
};

// The run by the server address, what the two checks find, whether the
// suite may be stopped and whether the user views the log.  A missing
// address is only logged.
TEST_F(CheckUpdateTest, TheRunChecksTwiceAroundTheStopAndRestartsAfterwards) {
  const std::string server = "当前服务器配置:IP 10.1.2.3,PORT 3306";
  const std::string viewed = "log " + root_.file("temp/autoPatchLog.txt");
  const std::vector<std::string> applied = {server, "", "", "",
                                            "Current version need to update,prepare download···"};
  const std::string viewLog = "更新结束,是否查看日志？";
  struct Case {
    const char* name;
    const char* ini;  // the server address file; null: none
    std::deque<bool> checks;
    bool stopAllowed;
    std::deque<bool> answers;
    bool result;
    std::vector<std::string> calls, titled, topmost, log;  // log: unchecked when empty
  };
  const char* address = "ip=10.1.2.3\nPort=3306\n";
  const std::string unreachable = "无法访问更新服务器";
  const Case cases[] = {
      {"no address file", nullptr, {}, true, {}, false, {}, {}, {},
       {"当前服务器配置:IP ,PORT ", unreachable}},
      {"no port", "IP=10.1.2.3\n", {}, true, {}, false, {}, {}, {},
       {"当前服务器配置:IP 10.1.2.3,PORT ", unreachable}},
      {"no ip", "PORT=3306\n", {}, true, {}, false, {}, {}, {},
       {"当前服务器配置:IP ,PORT 3306", unreachable}},
      {"up to date", address, {false}, true, {}, true, {check()}, {}, {},
       {server, "First check pass and not excute the second check"}},
      {"stop refused", address, {true}, false, {}, false, {check(), "stop"}, {}, {}, {}},
      {"patch vanished", address, {true, false}, true, {}, true, {check(), "stop", check(), "restart"},
       {"Info: 更新结束"}, {"更新结束"}, {}},
      {"applied, log viewed", address, {true, true}, true, {true}, true,
       {check(), "stop", check(), apply(), viewed, "restart"}, {}, {viewLog}, applied},
      {"applied, log not viewed", address, {true, true}, true, {false}, true,
       {check(), "stop", check(), apply(), "restart"}, {}, {viewLog}, applied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(root_.file("sys/MysqlIpPort.ini").c_str());
    if (c.ini != nullptr) writeServer(c.ini);
    ovix::openRunLog(ovix::Env::Default());
    steps_.calls.clear();
    steps_.checks = c.checks;
    steps_.stopAllowed = c.stopAllowed;
    ovix::testing::ScopedRecorder recorder;
    recorder.answers = c.answers;

    EXPECT_EQ(run(), c.result);
    EXPECT_EQ(steps_.calls, c.calls);
    EXPECT_EQ(recorder.titled, c.titled);
    EXPECT_EQ(recorder.topmost, c.topmost);
    EXPECT_EQ(recorder.questions, c.answers.empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{viewLog});
    EXPECT_THAT(recorder.messages, IsEmpty());
    if (!c.log.empty()) {
      EXPECT_EQ(logLines(), c.log);
    }
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

}

}  // namespace
