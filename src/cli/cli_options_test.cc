#include "cli/cli_options.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
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
      {"pack"},                                        // --path missing
      {"upload", "--server", "h"},                     // --port missing
      {"download", "--server", "h", "--port", "1"},    // --install missing
      {"info", "--server", "h", "--port", "1"},        // --project missing
      {"info", "--server", "h", "--port", "1", "--project", "P", "--list"},
      {"--yes", "--no", "checkupdate"},
      {"pack", "--path", "/x", "--bogus"},
      {"pack", "--path", "/x", "upload"},              // two commands
      {"checkupdate", "extra"},
      {"pack", "--path", "/x", "--info", "f.ini"},     // --info is project only
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
  struct Case {
    std::vector<std::string> args;
    const char* switchText;
  };
  const std::vector<Case> cases = {
      {{"pack", "--path", "/inst"}, "-pack"},
      {{"project", "--path", "/cfg", "--info", "P1.ini"}, "-project"},
      {{"upload", "--server", "h", "--port", "3306", "--password-stdin"}, "-upload"},
      {{"upproject", "--server", "h", "--port", ""}, "-upproject"},
      {{"download", "--install", "/i", "--server", "file:/s", "--port", "0"}, "-download"},
      {{"checkupdate"}, "-checkupdate"},
      {{"info", "--server", "h", "--port", "1", "--project", "一号 'x'"}, "-info"},
      {{"info", "--server", "h", "--port", "1", "--list"}, "-info"},
  };
  for (const Case& c : cases) {
    CliOptions options;
    auto result = parseCommandLine(c.args, &options);
    ASSERT_TRUE(result.runJob) << result.output;
    EXPECT_EQ(options.switchText, c.switchText);
  }
}

TEST(CliOptionsTest, FieldsDefaultsAndVersionConfirmation) {
  CliOptions options;
  ASSERT_TRUE(parseCommandLine({"--home", "/h", "--root", "/", "--no", "pack", "--path", "/i",
                                "--name", "Ovix", "--version", "V8", "--date", "2026-12-04"},
                               &options)
                  .runJob);
  EXPECT_EQ(options.home, "/h");
  EXPECT_EQ(options.root, "/");
  EXPECT_EQ(options.answer, Answer::kNo);
  EXPECT_EQ(options.user, "");
  EXPECT_FALSE(options.types.has_value());
  EXPECT_TRUE(options.versionConfirmed());

  CliOptions nameOnly;
  ASSERT_TRUE(parseCommandLine({"pack", "--path", "/i", "--name", "Ovix"}, &nameOnly).runJob);
  EXPECT_FALSE(nameOnly.versionConfirmed());
  EXPECT_EQ(nameOnly.answer, Answer::kAsk);

  CliOptions empty;
  ASSERT_TRUE(parseCommandLine({"upload", "--server", "h", "--port", ""}, &empty).runJob);
  EXPECT_EQ(empty.port, "");  // reaches the job, which reports it
}

TEST(CliOptionsTest, HelpEndsWithZeroAndExplainsTheCommand) {
  CliOptions options;
  auto top = parseCommandLine({"--help"}, &options);
  EXPECT_FALSE(top.runJob);
  EXPECT_EQ(top.exitCode, 0);
  EXPECT_NE(top.output.find("upproject"), std::string::npos);
  auto sub = parseCommandLine({"upload", "--help"}, &options);
  EXPECT_EQ(sub.exitCode, 0);
  EXPECT_NE(sub.output.find("--password-stdin"), std::string::npos);
  EXPECT_NE(sub.output.find("first line of standard input"), std::string::npos) << sub.output;
  EXPECT_NE(sub.output.find("--package FILE"), std::string::npos) << sub.output;
  EXPECT_NE(sub.output.find("OVIX_ADMIN_PASSWORD"), std::string::npos) << sub.output;

  auto version = parseCommandLine({"--version"}, &options);
  EXPECT_FALSE(version.runJob);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(std::regex_match(version.output, std::regex("ovixpatch [0-9]+\\.[0-9]+\\.[0-9]+")))
      << version.output;
}

// Runs the built ovixpatch with a private home and root; returns its exit
// status and stores standard error.
int runOvixpatch(const std::string& args, std::string* err) {
  ovix::testing::TempDir dir;
  std::string cmd = std::string(OVIXPATCH_BINARY) + " --home " + dir.path() + " --root " +
                    dir.path() + " " + args + " 2>" + dir.file("err") + " </dev/null >/dev/null";
  int status = std::system(cmd.c_str());
  *err = dir.read("err");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OvixpatchTest, ExitStatusTellsUsageErrorsFromFailedJobs) {
  std::string err;
  EXPECT_EQ(runOvixpatch("pack", &err), 2);
  EXPECT_NE(err.find("--path"), std::string::npos);
  EXPECT_EQ(runOvixpatch("--help", &err), 0);
  EXPECT_EQ(runOvixpatch("info --server file:/nonexistent --port 1 --project P", &err), 1);
  EXPECT_NE(err.find("未成功查询到项目信息：P"), std::string::npos) << err;
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
