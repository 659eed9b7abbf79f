#include "platform/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_log.h"
#include "platform/csv.h"
#include "platform/presenter.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::ScopedRecorder;
using ovix::testing::TempDir;

TEST(MessagesTest, TextLookupReplacesTheFormatAndFormattingIsExact) {
  zdcom::setTextLookup([](char const* text) -> char const* {
    return std::string(text) == "你好%s" ? "hello %s" : nullptr;
  });
  EXPECT_STREQ(zedaGetText_callbk("你好%s"), "hello %s");
  EXPECT_STREQ(zedaGetText_callbk("其他"), "其他");  // no translation: unchanged
  EXPECT_EQ(zedaGetText_callbk(nullptr), nullptr);
  zdcom::setTextLookup(nullptr);
  EXPECT_STREQ(zedaGetText_callbk("你好%s"), "你好%s");
  EXPECT_STREQ(zdcom::printMsg("%s-%03d", "x", 7), "x-007");
  std::string longText(5000, 'z');
  EXPECT_EQ(zdcom::format("%s!", longText.c_str()), longText + "!");
}

// Messages and questions reach the newest presenter; without one a question
// is answered no on standard error.
TEST(MessagesTest, ErrorMsgAndGoonMsgReachTheNewestPresenter) {
  {
    ScopedRecorder outer;
    {
      ScopedRecorder inner;
      inner.answers = {true};
      zdcom::errorMsg("文件(%s)无法更新", "a%sb");  // a percent sign in an argument stays
      EXPECT_TRUE(zdcom::goonMsg("继续%d?", 1));
      EXPECT_FALSE(zdcom::goonMsg("再继续?"));  // no scripted answer left: no
      EXPECT_EQ(inner.messages, std::vector<std::string>{"文件(a%sb)无法更新"});
      EXPECT_EQ(inner.questions, (std::vector<std::string>{"继续1?", "再继续?"}));
    }
    zdcom::errorMsg("outer");
    EXPECT_EQ(outer.messages, std::vector<std::string>{"outer"});
  }
  testing::internal::CaptureStderr();
  EXPECT_FALSE(zdcom::goonMsg("nobody to ask"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("nobody to ask"), std::string::npos);
}

TEST(CsvTest, EveryListOfTextsRoundTripsAndPlainFieldsAreNotQuoted) {
  const std::vector<std::vector<std::string>> cases = {
      {"127.0.0.1", "3306", "ovixinstallpatch"},
      {""},
      {"", ""},
      {"a,b", "say \"hi\"", "line\nbreak", " padded "},
      {"C:\\path\\with\\back", "项目,一", "100%"},
      {"\"", ",", "\"\""},
  };
  for (const auto& fields : cases) {
    std::vector<std::string> back;
    zdcom::readCsv(zdcom::writeCsv(fields), back);
    EXPECT_EQ(back, fields) << zdcom::writeCsv(fields);
  }
  EXPECT_STREQ(zdcom::writeCsv(cases[0]), "127.0.0.1,3306,ovixinstallpatch");
  std::vector<std::string> out = {"stale"};
  zdcom::readCsv(nullptr, out);
  EXPECT_TRUE(out.empty());
}

// Lines go to the newest live log only, appended to what it held.
TEST(CommandLogTest, LinesGoToTheNewestLiveLogOnly) {
  TempDir dir;
  std::string outerPath = dir.write("outer.logfile", "earlier job\n");
  std::string innerPath = dir.file("inner.logfile");
  EXPECT_EQ(zdcom::OVIXCommandLog::errorlog("no log yet"), 0);
  {
    zdcom::OVIXCommandLog outer(outerPath.c_str());
    EXPECT_EQ(zdcom::OVIXCommandLog::errorlog("文件(%s)无法更新", "a.dll"), 1);
    {
      zdcom::OVIXCommandLog inner(innerPath.c_str());
      zdcom::OVIXCommandLog::errorlog("inner line");
    }
    zdcom::OVIXCommandLog::errorlog("outer again");
    EXPECT_EQ(outer.lineCount(), 2);
  }
  EXPECT_EQ(zdcom::OVIXCommandLog::errorlog("after"), 0);
  std::string outerText = dir.read("outer.logfile");
  EXPECT_EQ(outerText.rfind("earlier job\n", 0), 0u);
  EXPECT_NE(outerText.find("] 文件(a.dll)无法更新\n"), std::string::npos);
  EXPECT_NE(outerText.find("] outer again\n"), std::string::npos);
  EXPECT_EQ(outerText.find("inner line"), std::string::npos);
  EXPECT_NE(dir.read("inner.logfile").find("inner line"), std::string::npos);
}

}  // namespace
