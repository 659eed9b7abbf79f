#include "app/easy_log.h"

#include <gtest/gtest.h>

#include <regex>

#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::FaultEnv;
using ovix::testing::TempDir;

TEST(EasyLogTest, TheFirstLineEmptiesTheFileAndLaterLinesAppend) {
  TempDir dir;
  std::string path = dir.write("temp/autoPatchLog.txt", "previous run\n");
  zedalog::EasyLog log(path.c_str(), true);
  ovix::print(log, "Enter update app,checking cmd......");
  EXPECT_FALSE(log.m_clearFirst);
  ovix::print(log, "second %d", 2);
  std::string text = dir.read("temp/autoPatchLog.txt");
  EXPECT_EQ(text.find("previous run"), std::string::npos);
  std::regex twoLines(
      "Enter update app,checking cmd\\.\\.\\.\\.\\.\\.\\t\\[\\d{4}\\.\\d{2}\\.\\d{2} "
      "\\d{2}:\\d{2}:\\d{2} [A-Z][a-z]+day\\]\\n"
      "second 2\\t\\[[^\\]]+\\]\\n");
  EXPECT_TRUE(std::regex_match(text, twoLines)) << text;
}

TEST(EasyLogTest, LineCarriesTheLocalTimeStamp) {
  TempDir dir;
  FaultEnv env;
  env.clock = 1733389200;  // 2024-12-05 09:00:00 UTC, a Thursday
  setenv("TZ", "UTC", 1);
  tzset();
  zedalog::EasyLog log(dir.file("log.txt").c_str(), false, &env);
  ovix::print(log, "x");
  EXPECT_EQ(dir.read("log.txt"), "x\t[2024.12.05 09:00:00 Thursday]\n");
}

TEST(EasyLogTest, ArgumentsAreWrittenUnchangedEvenWithPercentSigns) {
  TempDir dir;
  zedalog::EasyLog log(dir.file("log.txt").c_str(), false);
  ovix::print(log, "%s", "-pack %s %d 100%");
  ovix::print(log, "two\nparts");
  std::string text = dir.read("log.txt");
  EXPECT_EQ(text.rfind("-pack %s %d 100%\t[", 0), 0u) << text;
  EXPECT_NE(text.find("\ntwo\nparts\t["), std::string::npos) << text;
}

TEST(EasyLogTest, NoPathOrNoDirectoryWritesNothingAndKeepsTheClearFlag) {
  TempDir dir;
  zedalog::EasyLog off(nullptr, true);
  EXPECT_TRUE(off.m_path.empty());
  EXPECT_FALSE(off.m_clearFirst);
  ovix::print(off, "ignored");

  zedalog::EasyLog missingDir(dir.file("no-such-dir/log.txt").c_str(), true);
  ovix::print(missingDir, "lost");
  EXPECT_TRUE(missingDir.m_clearFirst);
  EXPECT_FALSE(ovix::Env::Default()->fileExists(dir.file("no-such-dir")));
}

TEST(EasyLogTest, AFailedOpenLeavesTheFileForTheNextLine) {
  TempDir dir;
  std::string path = dir.write("log.txt", "old\n");
  FaultEnv env;
  env.failOpenForWriteAt = 0;  // the emptying open fails
  zedalog::EasyLog log(path.c_str(), true, &env);
  ovix::print(log, "first");
  EXPECT_EQ(dir.read("log.txt"), "old\n");
  EXPECT_TRUE(log.m_clearFirst);
  ovix::print(log, "second");
  EXPECT_EQ(dir.read("log.txt").rfind("second\t[", 0), 0u);
}

}  // namespace
