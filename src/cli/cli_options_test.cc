#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "cli/terminal_presenter.h"
#include "platform/env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::cli::Answer;

// The other options are checked by running ovixpatch (ovixpatch_pack_test.cc).
TEST(CliOptionsTest, YesAndNoAnswerEveryQuestion) {
  const std::pair<const char*, Answer> cases[] = {{"--yes", Answer::kYes}, {"--no", Answer::kNo}};
  for (const auto& [flag, answer] : cases) {
    ovix::cli::CliOptions options;
    ASSERT_TRUE(ovix::cli::parseCommandLine({"--home", "/h", flag, "checkupdate"}, &options).runJob);
    EXPECT_EQ(options.answer, answer) << flag;
  }
}

TEST(TerminalPresenterTest, ALogIsPrintedWithItsOwnLineEnds) {
  ovix::testing::TempDir dir;
  std::string path = dir.write("autoPatchLog.txt", "first\t[t]\nsecond\t[t]\n");
  std::FILE* out = std::fopen(dir.file("shown").c_str(), "w");
  ASSERT_NE(out, nullptr);
  ovix::cli::TerminalPresenter(Answer::kNo, nullptr, out, out).openLog(*ovix::Env::Default(), path);
  std::fclose(out);
  EXPECT_EQ(dir.read("shown"), "first\t[t]\nsecond\t[t]\n");
}

}  // namespace
