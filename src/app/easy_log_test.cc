#include "app/easy_log.h"

#include <gtest/gtest.h>

#include "testing/fault_env.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

class EasyLogTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.clock = 1733389200; }  // 2024-12-05 09:00:00 UTC, a Thursday

  ovix::testing::ScopedEnv zone_{"TZ", "UTC"};
  TempDir dir_;
  ovix::testing::FaultEnv env_;
};

TEST_F(EasyLogTest, TheFirstLineEmptiesTheFileAndEveryLineIsStampedWithItsArgumentsUnchanged) {
  std::string path = dir_.write("temp/autoPatchLog.txt", "previous run\n");
  zedalog::EasyLog log(path.c_str(), true, &env_);
  ovix::print(log, "Enter update app,checking cmd......");
  EXPECT_FALSE(log.m_clearFirst);
  ovix::print(log, "%s", "-pack %s %d 100%");
  ovix::print(log, "two\nparts %d", 2);
  EXPECT_EQ(dir_.read("temp/autoPatchLog.txt"),
            "Enter update app,checking cmd......\t[2024.12.05 09:00:00 Thursday]\n"
            "-pack %s %d 100%\t[2024.12.05 09:00:00 Thursday]\n"
            "two\nparts 2\t[2024.12.05 09:00:00 Thursday]\n");
}

TEST_F(EasyLogTest, NoPathOrNoDirectoryWritesNothingAndKeepsTheClearFlag) {
  zedalog::EasyLog off(nullptr, true);
  EXPECT_TRUE(off.m_path.empty());
  EXPECT_FALSE(off.m_clearFirst);
  ovix::print(off, "ignored");

  zedalog::EasyLog missingDir(dir_.file("no-such-dir/log.txt").c_str(), true);
  ovix::print(missingDir, "lost");
  EXPECT_TRUE(missingDir.m_clearFirst);
  EXPECT_FALSE(ovix::Env::Default()->fileExists(dir_.file("no-such-dir")));
}

TEST_F(EasyLogTest, AFailedOpenLeavesTheFileForTheNextLine) {
  std::string path = dir_.write("log.txt", "old\n");
  env_.failOpenForWriteAt = 0;  // the emptying open fails
  zedalog::EasyLog log(path.c_str(), true, &env_);
  ovix::print(log, "first");
  EXPECT_EQ(dir_.read("log.txt"), "old\n");
  EXPECT_TRUE(log.m_clearFirst);
  ovix::print(log, "second");
  EXPECT_EQ(dir_.read("log.txt"), "second\t[2024.12.05 09:00:00 Thursday]\n");
}

}  // namespace
