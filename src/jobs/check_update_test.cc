#include "jobs/check_update.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/easy_log.h"
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Texts = std::vector<std::string>;
using Text = const std::string&;

// Steps that record their calls and answer the checks from a script; the
// log is shown as the real step shows it.
class FakeSteps : public ovix::CheckUpdateSteps {
 public:
  bool check(ovix::Env&, Text dir, Text ip, Text port) override {
    calls.push_back("check " + dir + " " + ip + " " + port);
    bool found = !checks.empty() && checks.front();
    if (!checks.empty()) checks.pop_front();
    return found;
  }
  bool apply(ovix::Env&, Text dir, Text ip, Text port) override {
    calls.push_back("apply " + dir + " " + ip + " " + port);
    return false;  // the run goes on whatever the outcome
  }
  bool stopSuite(ovix::Env&) override {
    calls.push_back("stop");
    return stopAllowed;
  }
  void restart(ovix::Env&) override { calls.push_back("restart"); }
  void openLog(ovix::Env& env, Text path) override {
    calls.push_back("log " + path);
    CheckUpdateSteps::openLog(env, path);
  }

  std::deque<bool> checks;  // results of the checks in turn
  bool stopAllowed = true;
  Texts calls;
};

class CheckUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZedaSystem::setInstallRoot(root_.path());
    root_.mkdir("temp");
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  ovix::testing::TempDir root_;
};

// The run by the server address, what the two checks find, whether the
// suite may be stopped and whether the user views the log.  A missing key
// of the address is only logged; an empty value is a value, which the check
// gets.
TEST_F(CheckUpdateTest, TheRunChecksTwiceAroundTheStopAndRestartsAfterwards) {
  const std::string at = root_.path() + " 10.1.2.3 3306", check = "check " + at;
  const std::string viewed = "log " + root_.file("temp/autoPatchLog.txt");
  const std::string server = "当前服务器配置:IP 10.1.2.3,PORT 3306";
  const std::string unreachable = "无法访问更新服务器", viewLog = "更新结束,是否查看日志？";
  const Texts applied = {server, "", "", "", "Current version need to update,prepare download···"};
  const char* address = "ip=10.1.2.3\nPort=3306\n";
  struct Case {
    const char* name;
    const char* ini;  // the server address file; null: none
    std::deque<bool> checks;
    bool stopAllowed;
    std::deque<bool> answers;
    bool result;
    Texts calls;
    Texts shown;  // titled messages, then topmost ones
    Texts log;    // unchecked when empty
  };
  const Case cases[] = {
      {"no address file", nullptr, {}, true, {}, false, {}, {},
       {"当前服务器配置:IP ,PORT ", unreachable}},
      {"no port", "IP=10.1.2.3\n", {}, true, {}, false, {}, {},
       {"当前服务器配置:IP 10.1.2.3,PORT ", unreachable}},
      {"no ip", "PORT=3306\n", {}, true, {}, false, {}, {},
       {"当前服务器配置:IP ,PORT 3306", unreachable}},
      {"up to date", address, {false}, true, {}, true, {check}, {},
       {server, "First check pass and not excute the second check"}},
      {"empty values", "IP=\nPORT=\n", {false}, true, {}, true, {"check " + root_.path() + "  "},
       {}, {"当前服务器配置:IP ,PORT ", "First check pass and not excute the second check"}},
      {"stop refused", address, {true}, false, {}, false, {check, "stop"}, {}, {}},
      {"patch vanished", address, {true, false}, true, {}, true,
       {check, "stop", check, "restart"}, {"Info: 更新结束", "更新结束"}, {}},
      {"applied, log viewed", address, {true, true}, true, {true}, true,
       {check, "stop", check, "apply " + at, viewed, "restart"}, {viewLog}, applied},
      {"applied, log not viewed", address, {true, true}, true, {false}, true,
       {check, "stop", check, "apply " + at, "restart"}, {viewLog}, applied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(root_.file("sys/MysqlIpPort.ini").c_str());
    if (c.ini != nullptr) root_.write("sys/MysqlIpPort.ini", std::string("[OvixPatch]\n") + c.ini);
    ovix::openRunLog(ovix::Env::Default());
    FakeSteps steps;
    steps.checks = c.checks;
    steps.stopAllowed = c.stopAllowed;
    ovix::testing::ScopedRecorder recorder;
    recorder.answers = c.answers;

    EXPECT_EQ(ovix::runCheckUpdate(*ovix::Env::Default(), steps), c.result);
    EXPECT_EQ(steps.calls, c.calls);
    Texts shown = recorder.titled;
    shown.insert(shown.end(), recorder.topmost.begin(), recorder.topmost.end());
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(recorder.questions, c.answers.empty() ? Texts{} : Texts{viewLog});
    EXPECT_THAT(recorder.messages, IsEmpty());
    if (!c.log.empty()) {
      EXPECT_EQ(ovix::testing::runLogLines(root_), c.log);
    }
    // The log the user chose to view, with the line ends of the viewer.
    ASSERT_EQ(recorder.texts.size(), c.answers == std::deque<bool>{true} ? 1u : 0u);
    if (!recorder.texts.empty()) {
      EXPECT_THAT(recorder.texts[0].text,
                  ::testing::AllOf(HasSubstr("prepare download···"), ::testing::EndsWith("\r\n")));
    }
  }
}

}  // namespace
