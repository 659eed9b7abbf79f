#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/terminal_presenter.h"
#include "platform/env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::cli::Answer;
using ovix::cli::CliOptions;
using ovix::cli::parseCommandLine;

// Usage errors and the job each command runs are checked by running
// ovixpatch itself (ovixpatch_pack_test.cc).
TEST(CliOptionsTest, GlobalOptionsAndVersionConfirmation) {
  CliOptions options;
  ASSERT_TRUE(parseCommandLine({"--home", "/h", "--root", "/", "--no", "pack", "--path", "/i",
                                "--name", "Ovix", "--version", "V8", "--date", "2026-12-04"},
                               &options)
                  .runJob);
  EXPECT_EQ(*options.home + *options.root, "/h/");
  EXPECT_EQ(options.answer, Answer::kNo);
  EXPECT_TRUE(options.versionConfirmed());
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
