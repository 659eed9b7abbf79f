#include "app/log_viewer.h"

#include <gtest/gtest.h>

#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::ScopedRecorder;
using ovix::testing::TempDir;

TEST(ReadTextLinesTest, SplitsLinesAndBreaksLongOnesAfter1023Characters) {
  TempDir dir;
  std::string longLine(2500, 'x');
  std::string path = dir.write("log.txt", "first\n" + longLine + "\nlast without end");
  std::vector<std::string> lines = ovix::readTextLines(*ovix::Env::Default(), path);
  EXPECT_EQ(lines, (std::vector<std::string>{"first\n", std::string(1023, 'x'),
                                              std::string(1023, 'x'), std::string(454, 'x') + "\n",
                                              "last without end"}));
}

TEST(ShowLogFileTest, ShowsTheJoinedLinesReadOnlyUnderTheLogTitle) {
  ScopedRecorder recorder;
  TempDir dir;
  std::string path = dir.write("log.txt", "a\t[t]\r\n" + std::string(1030, 'y') + "\n中文\n");
  ovix_print_logfile output;
  EXPECT_TRUE(output.showLogFile(path.c_str()));
  ASSERT_EQ(recorder.texts.size(), 1u);
  EXPECT_EQ(recorder.texts[0].title, "日志记录");
  EXPECT_EQ(recorder.texts[0].text,
            "a\t[t]\r\n" + std::string(1023, 'y') + "\r\n" + std::string(7, 'y') + "\r\n中文\r\n");
}

TEST(ShowLogFileTest, AMissingLogGivesTheMessageThenAnEmptyViewer) {
  ScopedRecorder recorder;
  ovix_print_logfile output;
  EXPECT_TRUE(output.showLogFile("/nonexistent/ovix/log.txt"));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"不能读取文件"});
  ASSERT_EQ(recorder.texts.size(), 1u);
  EXPECT_EQ(recorder.texts[0].text, "");
}

}  // namespace
