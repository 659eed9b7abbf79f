#include "app/log_viewer.h"

#include <gtest/gtest.h>

#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

// A missing log gives the message and an empty viewer.  A long line is
// broken after 1023 characters; the viewer ends each line with "\r\n".
TEST(LogViewerTest, TheViewerShowsTheLogsLinesReadOnlyUnderTheLogTitle) {
  ovix::testing::ScopedRecorder recorder;
  ovix::testing::TempDir dir;
  ovix_print_logfile output;
  EXPECT_TRUE(output.showLogFile(dir.file("missing.txt").c_str()));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"不能读取文件"});

  const std::string y(1023, 'y');
  std::string path = dir.write("log.txt", "a\t[t]\r\n" + y + "yy\n中文");
  EXPECT_TRUE(output.showLogFile(path.c_str()));
  ASSERT_EQ(recorder.texts.size(), 2u);
  EXPECT_EQ(recorder.texts[0].text, "");
  EXPECT_EQ(recorder.texts[1].title, "日志记录");
  EXPECT_EQ(recorder.texts[1].text, "a\t[t]\r\n" + y + "\r\nyy\r\n中文\r\n");
}

}  // namespace
