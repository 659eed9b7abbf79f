#include "app/easy_log.h"

#include <gtest/gtest.h>

#include "testing/fault_env.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace {

// A missing folder is not made.  A failed open leaves the file to be
// emptied by the next line; the lines after it are added, each stamped and
// with its arguments unchanged.
TEST(EasyLogTest, TheFileIsEmptiedByTheFirstLineThatCanBeWritten) {
  ovix::testing::ScopedEnv zone("TZ", "UTC");
  ovix::testing::TempDir dir;
  ovix::testing::FaultEnv env;
  env.clock = 1733389200;  // 2024-12-05 09:00:00 UTC, a Thursday
  zedalog::EasyLog missingDir(dir.file("no-such-dir/log.txt").c_str(), true);
  ovix::print(missingDir, "lost");
  EXPECT_TRUE(missingDir.m_clearFirst);
  EXPECT_FALSE(ovix::Env::Default()->fileExists(dir.file("no-such-dir")));

  std::string path = dir.write("log.txt", "previous run\n");
  env.failOpenForWriteAt = 0;
  zedalog::EasyLog log(path.c_str(), true, &env);
  ovix::print(log, "first");
  EXPECT_EQ(dir.read("log.txt"), "previous run\n");
  EXPECT_TRUE(log.m_clearFirst);
  ovix::print(log, "second");
  EXPECT_FALSE(log.m_clearFirst);
  ovix::print(log, "%s", "-pack %s %d 100%");
  ovix::print(log, "two\nparts %d", 2);
  const std::string stamp = "\t[2024.12.05 09:00:00 Thursday]\n";
  EXPECT_EQ(dir.read("log.txt"),
            "second" + stamp + "-pack %s %d 100%" + stamp + "two\nparts 2" + stamp);
}

}  // namespace
