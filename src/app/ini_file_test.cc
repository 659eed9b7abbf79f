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

// "中文" in code page 936 (GBK) and in UTF-8.
const std::string kGbk = "\xD6\xD0\xCE\xC4";
const std::string kUtf8 = "中文";
const std::string kBom = "\xEF\xBB\xBF";

// A file is written back in the encoding, with the byte-order mark and the
// line ends it was read with, after a change of a value beside the Chinese
// one; the program sees the Chinese value in UTF-8 either way.
TEST(IniFileTest, AFileKeepsItsEncodingWhenAnotherValueChanges) {
  static const struct {
    const char* what;
    std::string before;
    std::string after;  // after PATCH=A becomes PATCH=B
  } kCases[] = {
      {"code page 936", "[OVIX]\nNAME=" + kGbk + "\nPATCH=A\n",
       "[OVIX]\nNAME=" + kGbk + "\nPATCH=B\n"},
      {"code page 936, CRLF", "[OVIX]\r\nNAME=" + kGbk + "\r\nPATCH=A\r\n",
       "[OVIX]\r\nNAME=" + kGbk + "\r\nPATCH=B\r\n"},
      {"UTF-8", "[OVIX]\nNAME=" + kUtf8 + "\nPATCH=A\n",
       "[OVIX]\nNAME=" + kUtf8 + "\nPATCH=B\n"},
      {"UTF-8, CRLF", "[OVIX]\r\nNAME=" + kUtf8 + "\r\nPATCH=A\r\n",
       "[OVIX]\r\nNAME=" + kUtf8 + "\r\nPATCH=B\r\n"},
      {"UTF-8 with a byte-order mark", kBom + "[OVIX]\nNAME=" + kUtf8 + "\nPATCH=A\n",
       kBom + "[OVIX]\nNAME=" + kUtf8 + "\nPATCH=B\n"},
  };
  ovix::testing::TempDir dir;
  ovix::testing::FaultEnv env;
  for (const auto& c : kCases) {
    const std::string path = dir.write("ovixsetup.ini", c.before);
    ovix::IniFile ini;
    ASSERT_TRUE(ini.load(env, path)) << c.what;
    EXPECT_STREQ(ini.getValue("OVIX", "NAME"), kUtf8.c_str()) << c.what;
    ini.setValue("OVIX", "PATCH", "B");
    ASSERT_TRUE(ini.save(env, path)) << c.what;
    EXPECT_EQ(dir.read("ovixsetup.ini"), c.after) << c.what;

    // And back: the file is byte for byte the one the suite's tools wrote.
    ASSERT_TRUE(ini.load(env, path)) << c.what;
    ini.setValue("OVIX", "PATCH", "A");
    ASSERT_TRUE(ini.save(env, path)) << c.what;
    EXPECT_EQ(dir.read("ovixsetup.ini"), c.before) << c.what;
  }
}

TEST(IniFileTest, ANewFileIsUtf8WithoutAByteOrderMark) {
  ovix::IniFile ini;
  ini.setValue("PatchProject", "NAME", kUtf8.c_str());
  std::string text;
  ASSERT_TRUE(ini.text(&text));
  EXPECT_NE(text.find("NAME=" + kUtf8), std::string::npos) << text;
  EXPECT_EQ(text.rfind(kBom, 0), std::string::npos) << text;
}

// A value the file's encoding cannot hold fails the save, names the line
// and leaves the file as it was; nothing is written as '?'.
TEST(IniFileTest, AValueGbkLacksFailsTheSaveOfACodePage936File) {
  static const struct {
    const char* what;
    const char* value;
  } kCases[] = {
      {"Hangul", "한국"},
      {"emoji", "\xF0\x9F\x98\x80"},
      {"Chinese and Hangul", "中文한"},
  };
  ovix::testing::TempDir dir;
  ovix::testing::FaultEnv env;
  const std::string old = "[OVIX]\nNAME=" + kGbk + "\n";
  for (const auto& c : kCases) {
    const std::string path = dir.write("ovixsetup.ini", old);
    ovix::IniFile ini;
    ASSERT_TRUE(ini.load(env, path)) << c.what;
    ini.setValue("OVIX", "NAME", c.value);
    std::string text = "left over";
    EXPECT_FALSE(ini.text(&text)) << c.what;
    EXPECT_EQ(text, "") << c.what;
    EXPECT_FALSE(ini.save(env, path)) << c.what;
    EXPECT_NE(ovix::Env::lastError().find(std::string("NAME=") + c.value), std::string::npos)
        << c.what << ": " << ovix::Env::lastError();
    EXPECT_EQ(dir.read("ovixsetup.ini"), old) << c.what;
  }

  // The same value in a UTF-8 file is no problem.
  const std::string path = dir.write("pack_upload.ini", "[OVIX]\nNAME=" + kUtf8 + "\n");
  ovix::IniFile ini;
  ASSERT_TRUE(ini.load(env, path));
  ini.setValue("OVIX", "NAME", "한국");
  ASSERT_TRUE(ini.save(env, path));
  EXPECT_EQ(dir.read("pack_upload.ini"), "[OVIX]\nNAME=한국\n");
}

// Data in neither encoding reads as empty and is never written over, so a
// file the program cannot read is not replaced by one without its values.
TEST(IniFileTest, DataInNeitherEncodingIsNotWrittenBack) {
  static const struct {
    const char* what;
    std::string data;
  } kCases[] = {
      {"GBK lead byte before a line end", "[OVIX]\nNAME=\xD6\nPATCH=A\n"},
      {"byte-order mark before GBK", kBom + "[OVIX]\nNAME=" + kGbk + "\n"},
  };
  ovix::testing::TempDir dir;
  ovix::testing::FaultEnv env;
  for (const auto& c : kCases) {
    const std::string path = dir.write("ovixsetup.ini", c.data);
    ovix::IniFile ini;
    EXPECT_FALSE(ini.load(env, path)) << c.what;
    EXPECT_EQ(ini.getValue("OVIX", "PATCH"), nullptr) << c.what;
    ini.setValue("OVIX", "PATCH", "B");
    EXPECT_FALSE(ini.save(env, path)) << c.what;
    EXPECT_NE(ovix::Env::lastError().find(path), std::string::npos) << ovix::Env::lastError();
    EXPECT_EQ(dir.read("ovixsetup.ini"), c.data) << c.what;

    // A later load of good data makes the object writable again.
    ASSERT_TRUE(ini.loadData("[OVIX]\nPATCH=A\n")) << c.what;
    std::string text;
    EXPECT_TRUE(ini.text(&text)) << c.what;
  }
}

TEST(SetupFileTest, InstalledPatchDateIsTheKeyAfterItsThreeCodes) {
  EXPECT_EQ(ovix::installedPatchDate("ABC202612040905"), "202612040905");
  for (const char* tooShort : {"ABC", "AB", static_cast<const char*>(nullptr)})
    EXPECT_EQ(ovix::installedPatchDate(tooShort), "");
}

}  // namespace
