#include "app/ini_file.h"

#include <gtest/gtest.h>

#include "app/setup_file.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::IniFile;
using ovix::testing::FaultEnv;
using ovix::testing::TempDir;

// "中文" in code page 936 (GBK) and in UTF-8, and UTF-8's byte-order mark.
const std::string kGbk = "\xD6\xD0\xCE\xC4", kUtf8 = "中文", kBom = "\xEF\xBB\xBF";

// A file is written back in the encoding, with the byte-order mark and the
// line ends it was read with, when a value beside the Chinese one changes;
// changed back, it is byte for byte the file the suite's tools wrote.  The
// program sees the Chinese value in UTF-8 either way.  Names match whatever
// their letter case (a set replaces the value in place), values keep their
// blanks, and a failed save (the rename) leaves the old file.
TEST(IniFileTest, AFileKeepsItsEncodingWhenAnotherValueChanges) {
  TempDir dir;
  FaultEnv env;
  for (const auto& [bom, name] :
       {std::pair{std::string(), kGbk}, {std::string(), kUtf8}, {kBom, kUtf8}}) {
    for (const std::string eol : {"\n", "\r\n"}) {
      auto file = [&](const std::string& patch) {
        return bom + "[OVIX]" + eol + "NAME=" + name + " 1" + eol + "PATCH=" + patch + eol;
      };
      SCOPED_TRACE(::testing::PrintToString(file("A")));
      const std::string path = dir.write("ovixsetup.ini", file("A"));
      for (const char* patch : {"B", "A"}) {
        const std::string before = dir.read("ovixsetup.ini");
        IniFile ini;
        ASSERT_TRUE(ini.load(env, path));
        EXPECT_STREQ(ini.getValue("ovix", "Name"), (kUtf8 + " 1").c_str());
        ini.setValue("Ovix", "patch", patch);
        env.failRename = true;
        EXPECT_FALSE(ini.save(env, path));
        EXPECT_EQ(dir.read("ovixsetup.ini"), before);
        env.failRename = false;
        ASSERT_TRUE(ini.save(env, path));
        EXPECT_EQ(dir.read("ovixsetup.ini"), file(patch));
      }
    }
  }
}

// A save that would lose what the file holds fails, names the line or the
// file and leaves the file as it was; nothing is written as '?': a value the
// encoding cannot hold (Hangul in code page 936), data in neither encoding
// (a GBK lead byte before a line end, a byte-order mark before GBK), which
// also reads as empty until good data is loaded.  A UTF-8 file takes the
// value, and so does a new file, which is UTF-8 without a byte-order mark.
TEST(IniFileTest, ASaveThatWouldLoseTextFailsAndLeavesTheFile) {
  TempDir dir;
  FaultEnv env;
  const std::string path = dir.file("ovixsetup.ini");
  const struct {
    std::string data;
    bool readable;
    std::string named;
  } cases[] = {{"[OVIX]\nNAME=" + kGbk + "\n", true, "NAME=中文한"},
               {"[OVIX]\nNAME=\xD6\nPATCH=A\n", false, path},
               {kBom + "[OVIX]\nNAME=" + kGbk + "\n", false, path}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.data));
    dir.write("ovixsetup.ini", c.data);
    IniFile ini;
    EXPECT_EQ(ini.load(env, path), c.readable);
    EXPECT_TRUE(c.readable || ini.getValue("OVIX", "PATCH") == nullptr);
    ini.setValue("OVIX", "NAME", "中文한");
    std::string text = "left over";
    EXPECT_FALSE(ini.text(&text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(ini.save(env, path));
    EXPECT_NE(ovix::Env::lastError().find(c.named), std::string::npos) << ovix::Env::lastError();
    EXPECT_EQ(dir.read("ovixsetup.ini"), c.data);
    EXPECT_TRUE(ini.loadData("[OVIX]\nPATCH=A\n") && ini.text(&text));
  }

  IniFile utf8, fresh;
  const std::string utf8Path = dir.write("pack_upload.ini", "[OVIX]\nNAME=" + kUtf8 + "\n");
  ASSERT_TRUE(utf8.load(env, utf8Path));
  utf8.setValue("OVIX", "NAME", "한국");
  ASSERT_TRUE(utf8.save(env, utf8Path));
  EXPECT_EQ(dir.read("pack_upload.ini"), "[OVIX]\nNAME=한국\n");
  std::string text;
  fresh.setValue("OVIX", "NAME", "한국");
  ASSERT_TRUE(fresh.text(&text));
  EXPECT_EQ(text.rfind("[OVIX]", 0), 0u) << text;  // no byte-order mark
  EXPECT_NE(text.find("NAME=한국"), std::string::npos) << text;
}

TEST(SetupFileTest, InstalledPatchDateIsTheKeyAfterItsThreeCodes) {
  EXPECT_EQ(ovix::installedPatchDate("ABC202612040905"), "202612040905");
  for (const char* tooShort : {"ABC", "AB", static_cast<const char*>(nullptr)})
    EXPECT_EQ(ovix::installedPatchDate(tooShort), "");
}

}  // namespace
