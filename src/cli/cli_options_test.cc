#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/terminal_presenter.h"
#include "platform/env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::cli::Answer;
using ovix::cli::CliOptions;
using ovix::cli::parseCommandLine;

TEST(CliOptionsTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"pack"},                                      // --path missing
      {"upload", "--server", "h"},                   // --port missing
      {"download", "--server", "h", "--port", "1"},  // --install missing
      {"info", "--server", "h", "--port", "1"},      // --project missing
      {"info", "--server", "h", "--port", "1", "--project", "P", "--list"},
      {"--yes", "--no", "checkupdate"},
      {"pack", "--path", "/x", "--bogus"},
      {"pack", "--path", "/x", "upload"},  // two commands
      {"checkupdate", "extra"},
      {"pack", "--path", "/x", "--info", "f.ini"},  // --info is project only
      {"download", "--install", "/i", "--server", "h", "--port", "1", "--password-stdin"},
      {"download", "--install", "/i", "--server", "h", "--port", "1", "--package", "p"},
      {"pack", "--path", "/x", "--date", "2026-12-04"},  // no version dialog to date
      {"pack", "--path", "/x", "--name", "N", "--date", "2026-12-04"},
      {"--root", "/nonexistent/ovix-root", "checkupdate"},
  };
  for (const auto& args : bad) {
    CliOptions options;
    auto result = parseCommandLine(args, &options);
    EXPECT_FALSE(result.runJob);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_FALSE(result.output.empty());
  }
}

TEST(CliOptionsTest, EachCommandMapsToItsSwitchWithItsOptions) {
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases = {
      {{"pack", "--path", "/inst"}, "-pack"},
      {{"project", "--path", "/cfg", "--info", "P1.ini"}, "-project"},
      {{"upload", "--server", "h", "--port", "3306", "--password-stdin"}, "-upload"},
      {{"upproject", "--server", "h", "--port", ""}, "-upproject"},  // the job reports it
      {{"download", "--install", "/i", "--server", "file:/s", "--port", "0"}, "-download"},
      {{"checkupdate"}, "-checkupdate"},
      {{"info", "--server", "h", "--port", "1", "--project", "一号 'x'"}, "-info"},
      {{"info", "--server", "h", "--port", "1", "--list"}, "-info"},
  };
  for (const auto& [args, switchText] : cases) {
    CliOptions options;
    auto result = parseCommandLine(args, &options);
    ASSERT_TRUE(result.runJob) << result.output;
    EXPECT_EQ(options.switchText, switchText);
  }
}

// The version dialog is answered only by --name and --version together.
TEST(CliOptionsTest, GlobalOptionsAndVersionConfirmation) {
  CliOptions options;
  ASSERT_TRUE(parseCommandLine({"--home", "/h", "--root", "/", "--no", "pack", "--path", "/i",
                                "--name", "Ovix", "--version", "V8", "--date", "2026-12-04"},
                               &options)
                  .runJob);
  EXPECT_EQ(*options.home + *options.root, "/h/");
  EXPECT_EQ(options.answer, Answer::kNo);
  EXPECT_TRUE(options.versionConfirmed());

  CliOptions nameOnly;
  ASSERT_TRUE(parseCommandLine({"pack", "--path", "/i", "--name", "Ovix"}, &nameOnly).runJob);
  EXPECT_FALSE(nameOnly.versionConfirmed());
  EXPECT_EQ(nameOnly.answer, Answer::kAsk);
}

TEST(CliOptionsTest, HelpAndVersionEndWithZero) {
  CliOptions options;
  auto top = parseCommandLine({"--help"}, &options);
  EXPECT_FALSE(top.runJob);
  EXPECT_EQ(top.exitCode, 0);
  EXPECT_NE(top.output.find("upproject"), std::string::npos);
  auto sub = parseCommandLine({"upload", "--help"}, &options);
  EXPECT_EQ(sub.exitCode, 0);
  for (const char* part : {"--password-stdin", "--package FILE", "at most 4096 bytes"})
    EXPECT_NE(sub.output.find(part), std::string::npos) << part;

  auto version = parseCommandLine({"--version"}, &options);
  EXPECT_FALSE(version.runJob);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(std::regex_match(version.output, std::regex("ovixpatch [0-9]+\\.[0-9]+\\.[0-9]+")))
      << version.output;
}

TEST(TerminalPresenterTest, ALogIsPrintedWithItsOwnLineEnds) {
  ovix::testing::TempDir dir;
  std::string path = dir.write("autoPatchLog.txt", "first\t[t]\nsecond\t[t]\n");
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
