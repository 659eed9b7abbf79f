#include "app/ini_file.h"

#include <gtest/gtest.h>

#include "app/setup_file.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace {

// A set replaces the value whatever the case of the names, and is written
// without blanks around '='; a failed save leaves the old file.
TEST(IniFileTest, NamesMatchWithoutRegardToCaseAndAFailedSaveLeavesTheOldFile) {
  ovix::testing::TempDir dir;
  const std::string old = "[mysqlserver]\nip=10.0.0.1\n";
  const std::string path = dir.write("pack_upload.ini", old);
  ovix::testing::FaultEnv env;
  ovix::IniFile ini, back;
  ASSERT_TRUE(ini.load(env, path));
  EXPECT_STREQ(ini.getValue("MySqlServer", "IP"), "10.0.0.1");
  ini.setValue("MYSQLSERVER", "Ip", "127.0.0.1");
  ini.setValue("PatchProject", "NAME", "一号装置 项目");
  env.failRename = true;
  EXPECT_FALSE(ini.save(env, path));
  EXPECT_EQ(dir.read("pack_upload.ini"), old);

  env.failRename = false;
  ASSERT_TRUE(ini.save(env, path));
  EXPECT_EQ(dir.read("pack_upload.ini").find("10.0.0.1"), std::string::npos);
  EXPECT_NE(dir.read("pack_upload.ini").find("\nNAME=一号装置 项目"), std::string::npos);
  ASSERT_TRUE(back.load(env, path));
  EXPECT_STREQ(back.getValue("mysqlserver", "ip"), "127.0.0.1");
}

TEST(SetupFileTest, InstalledPatchDateIsTheKeyAfterItsThreeCodes) {
  EXPECT_EQ(ovix::installedPatchDate("ABC202612040905"), "202612040905");
  for (const char* tooShort : {"ABC", "AB", static_cast<const char*>(nullptr)})
    EXPECT_EQ(ovix::installedPatchDate(tooShort), "");
}

}  // namespace
