#include "app/ini_file.h"

#include <gtest/gtest.h>

#include "app/setup_file.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

TEST(IniFileTest, AMissingFileReadsAsEmptyAndSavingCreatesItWithTextsAsBytes) {
  TempDir dir;
  ovix::Env& env = *ovix::Env::Default();
  ovix::IniFile ini, back;
  EXPECT_FALSE(ini.load(env, dir.file("pack_upload.ini")));
  EXPECT_EQ(ini.getValue("MySqlServer", "IP"), nullptr);
  ini.setValue("MySqlServer", "IP", "192.0.2.7");
  ini.setValue("PatchProject", "NAME", "一号装置 项目");
  ASSERT_TRUE(ini.save(env, dir.file("pack_upload.ini")));
  std::string text = dir.read("pack_upload.ini");
  EXPECT_NE(text.find("[MySqlServer]"), std::string::npos);
  EXPECT_NE(text.find("IP=192.0.2.7"), std::string::npos);  // no blanks around '='
  EXPECT_NE(text.rfind("\xEF\xBB\xBF", 0), 0u);               // no byte-order mark
  ASSERT_TRUE(back.load(env, dir.file("pack_upload.ini")));
  EXPECT_STREQ(back.getValue("PatchProject", "NAME"), "一号装置 项目");
}

TEST(IniFileTest, NamesMatchWithoutRegardToCaseAndSetReplaces) {
  ovix::IniFile ini;
  ini.loadData("[mysqlserver]\nip=10.0.0.1\n[Other]\nKeep=yes\n");
  EXPECT_STREQ(ini.getValue("MySqlServer", "IP"), "10.0.0.1");
  ini.setValue("MYSQLSERVER", "Ip", "127.0.0.1");
  EXPECT_STREQ(ini.getValue("mysqlserver", "ip"), "127.0.0.1");
  std::string text = ini.text();
  EXPECT_EQ(text.find("10.0.0.1"), std::string::npos);
  EXPECT_NE(text.find("Keep=yes"), std::string::npos);  // other sections kept
}

TEST(IniFileTest, AFailedSaveLeavesTheOldFile) {
  TempDir dir;
  std::string path = dir.write("setup.ini", "[OVIX]\nPATCH=old\n");
  ovix::testing::FaultEnv env;
  env.failRename = true;
  ovix::IniFile ini;
  ini.load(env, path);
  ini.setValue("OVIX", "PATCH", "new");
  EXPECT_FALSE(ini.save(env, path));
  EXPECT_EQ(dir.read("setup.ini"), "[OVIX]\nPATCH=old\n");
}

struct FakeHeader {
  std::string name, ver, kernel, build;
  int sets = 0;
  void setName(char const* v) { name = v, ++sets; }
  void setVer(char const* v) { ver = v, ++sets; }
  void setKernalTime(char const* v) { kernel = v, ++sets; }
  void setVerTime(char const* v) { build = v, ++sets; }
};

TEST(SetupFileTest, ReadsTheFourKeysInOrderAndStopsAtTheFirstMissingOne) {
  struct Case {
    const char* contents;  // null: no file
    bool ok;
    int sets;
  };
  const Case cases[] = {
      {"[OVIX]\nNAME=Ovix\nVERSION=V8\nKERNELTIME=2026-01-01\nBUILDTIME=2026-02-01\n", true, 4},
      {"[ovix]\nname=Ovix\nversion=V8\nkerneltime=k\nbuildtime=b\n", true, 4},
      {"[OVIX]\nNAME=Ovix\nVERSION=V8\nBUILDTIME=2026-02-01\n", false, 2},
      {"[OVIX]\nVERSION=V8\n", false, 0},
      {"", false, 0},
      {nullptr, false, 0},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (c.contents) dir.write("ovixsetup.ini", c.contents);
    FakeHeader header;
    EXPECT_EQ(ovix::readSetupFile(*ovix::Env::Default(), dir.path(), header), c.ok) << c.contents;
    EXPECT_EQ(header.sets, c.sets) << c.contents;
  }
}

TEST(SetupFileTest, InstalledPatchDateIsTheKeyAfterItsThreeCodes) {
  EXPECT_EQ(ovix::installedPatchDate("ABC202612040905"), "202612040905");
  for (const char* tooShort : {"ABC", "AB", static_cast<const char*>(nullptr)})
    EXPECT_EQ(ovix::installedPatchDate(tooShort), "");
}

}  // namespace
