#include "jobs/pack_job.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "app/working_files.h"
#include "packing/file_selection.h"
#include "package/package_signature.h"
#include "packing/package_writer.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"
#include "platform/time_string.h"
#include "testing/fault_env.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::crcOf;
using ovix::testing::query;
using ovix::testing::Rows;
using ovix::testing::TempDir;

// Answers the pack job's dialogs from fields a test sets, and counts them.
class FakePackUi : public ovix::PackJobUi {
 public:
  bool versionOk = true;
  ovix::VersionInfo version{"OVIX_VEL", "V2", "2026-11-30-00-00"};
  std::optional<std::string> infoFile;
  int versionAsked = 0, infoAsked = 0;
  bool versionProjectMode = false;

  bool askVersion(bool projectMode, ovix::VersionInfo* info) override {
    ++versionAsked;
    versionProjectMode = projectMode;
    if (versionOk) *info = version;
    return versionOk;
  }
  bool chooseProjectInfoFile(const std::string&, std::string* path) override {
    ++infoAsked;
    if (infoFile) *path = *infoFile;
    return infoFile.has_value();
  }
  std::optional<std::string> password;  // none: the box is cancelled
  int passwordAsked = 0;
  bool askSigningPassword(const std::string&, std::string* typed) override {
    ++passwordAsked;
    if (password) *typed = *password;
    return password.has_value();
  }
};

// An Env whose clock stands still and whose reads of one file fail.
class PackEnv : public ovix::testing::FaultEnv {
 public:
  std::string unreadable;
  bool newSequentialFile(const std::string& path,
                         std::unique_ptr<ovix::SequentialFile>* result) override {
    if (!unreadable.empty() && path == unreadable) {
      ovix::setLastError("open " + path + ": locked");
      return false;
    }
    return FaultEnv::newSequentialFile(path, result);
  }
};

constexpr char kFullSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2026-12-01\n";

class PackJobTest : public ::testing::Test {
 public:
  void SetUp() override {
    registerRecordClasses();
    setenv("TZ", "UTC", 1);
    tzset();
    env_.clock = 1796374 * 1000;  // 2026-12-05 ... UTC, fixed
    ovix::fillProgramPaths(program_.file("ovixpatch"), std::nullopt);
    fields_.user = "abc";
    fields_.path = tree_.path();
    fields_.types = ovix::defaultFileTypes("DLL");
  }

  void writeSetup(const std::string& contents) { tree_.write("ovixsetup.ini", contents); }

  bool pack(const std::string& kind = "DLL", std::string* path = nullptr) {
    std::string written;
    bool ok = ovix::packDialogOk(env_, fields_, kind, ui_, &written);
    if (path != nullptr) *path = written;
    return ok;
  }

  // The files left in the program directory.
  std::vector<std::string> programFiles() {
    std::vector<std::string> files;
    ovix::collectFiles(env_, program_.path(), "", nullptr, files);
    return files;
  }

  TempDir program_, tree_;
  PackEnv env_;
  FakePackUi ui_;
  ovix::PackDialogFields fields_;
};

// A software patch with a full setup file packs without asking; a large file
// is streamed with its CRC, and an unreadable one is packed empty and logged.
// An incomplete setup file makes the pack ask for the version.
TEST_F(PackJobTest, ASoftwarePatchAsksForTheVersionOnlyWithoutAFullSetupFile) {
  ovix::testing::ScopedRecorder recorder;
  writeSetup(kFullSetup);
  std::string big(static_cast<size_t>(ovix::kInMemoryFileBytes) * 2 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 2654435761u >> 13);
  tree_.write("bin/a.DLL", "aaa");
  tree_.write("bin/big.dll", big);
  tree_.write("bin/readme.txt", "not a type");
  tree_.write("lua/locked.lua", "secret");
  env_.unreadable = tree_.file("lua/locked.lua");
  std::string path;
  ASSERT_TRUE(pack("DLL", &path)) << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(ui_.versionAsked + ui_.infoAsked, 0);
  std::string stamp = ovix::formatLocalTime(env_.now(), "%Y%m%d_%H%M");
  EXPECT_EQ(path, program_.file("abc/abc_软件补丁数据包_" + stamp + ".package"));

  const std::string key = "A3A" + ovix::formatLocalTime(env_.now(), "%Y%m%d%H%M");
  EXPECT_EQ(query(path,
                  "SELECT m_skey, m_ref_tblname, m_type, m_name, m_ver_time, m_kernal_time, "
                  "m_pack_time, m_force, m_depend, m_proj_guid, m_depend_guid, "
                  "length(m_guid) = 38 AND m_guid GLOB '{*}' AND "
                  "NOT substr(m_guid, 2, 36) GLOB '*[^0-9A-F-]*' FROM OVIXPackageInfo"),
            (Rows{{key, key, "DLL", "OVIX_TARNO", "2026-12-01", "2026-01-01",
                   ovix::formatLocalTime(env_.now(), "%Y-%m-%d-%H-%M"), "1", "0", "<null>",
                   "<null>", "1"}}));
  // The unreadable file has the CRC of no bytes, which a download accepts.
  EXPECT_EQ(query(path,
                  "SELECT m_skey, m_crc, m_dbkey, length(m_stream), m_guid, m_version "
                  "FROM OVIXFileRecord ORDER BY rowid"),
            (Rows{{"bin\\a.DLL", crcOf("aaa"), "<null>", "3", "<null>", "0"},
                  {"bin\\big.dll", crcOf(big), "<null>", std::to_string(big.size()), "<null>",
                   "0"},
                  {"lua\\locked.lua", "00000000", "<null>", "0", "<null>", "0"},
                  {"ovixsetup.ini", crcOf(kFullSetup), "<null>",
                   std::to_string(sizeof(kFullSetup) - 1), "<null>", "0"}}));
  EXPECT_NE(program_.read("ovixpatch.logfile").find("locked.lua"), std::string::npos);
  EXPECT_EQ(recorder.messages, std::vector<std::string>{
                                   "打包完成，包版本信息：\n\t结果文件：" + path +
                                   "\n\t软件名称：OVIX_TARNO\n\t版本名称：V3\n\t版本日期：2026-12-01"});

  writeSetup("[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V1\n");
  recorder.messages.clear();
  ASSERT_TRUE(pack("DLL", &path));
  EXPECT_EQ(ui_.versionAsked, 1);
  EXPECT_FALSE(ui_.versionProjectMode);
  EXPECT_EQ(recorder.messages.front(),
            "安装路径下无ovixsetup.ini文件，请手动输入处理相关信息，需要小心！");
  EXPECT_EQ(query(path, "SELECT substr(m_skey, 1, 3), m_name, m_ver_time, m_kernal_time "
                        "FROM OVIXPackageInfo"),
            (Rows{{"C2A", "OVIX_VEL", "2026-11-30-00-00", "2026-11-30-00-00"}}));
}

// Every failure writes nothing and keeps the dialog open with its message:
// bad fields, names no workstation could install, files too large for a
// row, and start directories that climb out of the tree.
TEST_F(PackJobTest, FailuresWriteNothingAndKeepTheDialogOpen) {
  struct Case {
    const char* name;
    std::function<void(PackJobTest&)> arrange;
    const char* message;  // the last message shown, or null for none
  };
  auto file = [](const char* name) {
    return [name](PackJobTest& t) { t.tree_.write(name, "odd"); };
  };
  auto subdir = [](const char* subdir) {
    return [subdir](PackJobTest& t) { t.fields_.subdir = subdir; };
  };
  const Case cases[] = {
      {"version dialog cancelled", [](PackJobTest& t) { t.ui_.versionOk = false; }, nullptr},
      {"name without code", [](PackJobTest& t) { t.ui_.version.name = "OVIX_KESTRIL"; },
       "打包错误，对不上版本信息，无法对包进行编码"},
      {"version without code", [](PackJobTest& t) { t.ui_.version.version = "V7"; },
       "打包错误，对不上版本信息，无法对包进行编码"},
      {"no matching file", [](PackJobTest& t) { t.fields_.types = "EXE"; }, "路径下无文件：%ROOT%"},
      {"empty path", [](PackJobTest& t) { t.fields_.path = ""; }, "路径下无文件："},
      {"missing start directory", subdir("nowhere"), "路径下无文件：%ROOT%"},
      {"user above the program directory", [](PackJobTest& t) { t.fields_.user = "../x"; },
       "用户名../x不能用作文件夹名，无法打包"},
      {"user is the parent", [](PackJobTest& t) { t.fields_.user = ".."; },
       "用户名..不能用作文件夹名，无法打包"},
      {"user with a sub-folder", [](PackJobTest& t) { t.fields_.user = "a/b"; },
       "用户名a/b不能用作文件夹名，无法打包"},
      {"file list outside the user folder",
       [](PackJobTest& t) { t.fields_.types = "..\\..\\etc\\list.csv"; },
       "列表文件名..\\..\\etc\\list.csv不在用户文件夹之内，无法打包"},
      {"absolute file list", [](PackJobTest& t) { t.fields_.types = "/etc/x"; },
       "列表文件名/etc/x不在用户文件夹之内，无法打包"},
      {"exclusion list outside the user folder",
       [](PackJobTest& t) {
         t.program_.mkdir("abc");
         t.fields_.subdir = "../../" + ovix::baseName(t.tree_.path()) + "/list.csv";
         t.tree_.write("list.csv", "header\nbin\n");
       },
       "列表文件名../../%TREE%/list.csv不在用户文件夹之内，无法打包"},
      {"name leaving the tree", file("..\\x.dll"),
       "文件(..\\x.dll)的路径不在安装目录之内，工作站不能安装，打包被拒绝"},
      {"name with a drive", file("c:x.dll"),
       "文件(c:x.dll)的路径不在安装目录之内，工作站不能安装，打包被拒绝"},
      {"name with a line break", file("line\nbreak.dll"),
       "文件(line\\x0Abreak.dll)的路径含有控制字符，工作站不能安装，打包被拒绝"},
      {"name not UTF-8", file("\xff.dll"),
       "文件(\\xFF.dll)的路径不是有效的文字编码，工作站不能安装，打包被拒绝"},
      {"name Windows refuses", file("what?.dll"),
       "文件(what?.dll)的路径含有Windows不允许的字符或名称，工作站不能安装，打包被拒绝"},
      {"file larger than a row",
       [](PackJobTest& t) {  // sparse: no disk space used
         ASSERT_EQ(::truncate(t.tree_.write("huge.dll", "").c_str(), 1000000001), 0);
       },
       "文件(%ROOT%/huge.dll)太大（1000000001字节），数据包中的文件不能超过999934464字节"},
      {"start directory above", subdir(".."), "子目录..不在路径%ROOT%之内，打包被拒绝"},
      {"start directory climbing", subdir("bin\\..\\.."),
       "子目录bin\\..\\..不在路径%ROOT%之内，打包被拒绝"},
      {"start directory beside", subdir("../other"),
       "子目录../other不在路径%ROOT%之内，打包被拒绝"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fields_ = ovix::PackDialogFields();
    PackJobTest::SetUp();
    for (const auto& entry : fs::directory_iterator(tree_.path())) fs::remove_all(entry.path());
    tree_.write("a.dll", "x");
    ui_ = FakePackUi();
    c.arrange(*this);
    ovix::testing::ScopedRecorder recorder;
    EXPECT_FALSE(pack());
    if (c.message == nullptr) {
      EXPECT_EQ(recorder.messages.size(), 1u);  // the setup-file notice only
    } else {
      std::string expected = std::regex_replace(c.message, std::regex("%ROOT%"), tree_.path());
      expected = std::regex_replace(expected, std::regex("%TREE%"), ovix::baseName(tree_.path()));
      EXPECT_EQ(recorder.messages.back(), expected);
    }
    EXPECT_TRUE(programFiles().empty()) << ::testing::PrintToString(programFiles());
  }
}

// A package of the same minute is replaced only by a whole new one: not
// when nothing is found, nor on a cancel, nor while it is open elsewhere.
TEST_F(PackJobTest, PackingTwiceInAMinuteReplacesTheFirstPackageOnlyWhenTheSecondIsWhole) {
  writeSetup(kFullSetup);
  for (int i = 0; i < 5; ++i) tree_.write("f" + std::to_string(i) + ".dll", "first");
  std::string first, second;
  {
    ovix::testing::ScopedRecorder recorder;
    ASSERT_TRUE(pack("DLL", &first));
    tree_.write("f0.dll", "second!");
    ASSERT_TRUE(pack("DLL", &second));
  }
  EXPECT_EQ(first, second);
  // Six records, the first file's of the second pack.
  const std::string counts =
      "SELECT count(*), sum(m_skey = 'f0.dll' AND CAST(m_stream AS TEXT) = 'second!') "
      "FROM OVIXFileRecord";
  EXPECT_EQ(query(second, counts), (Rows{{"6", "1"}}));
  tree_.write("f0.dll", "third!!!");

  fields_.types = "EXE";  // nothing to pack
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(pack());
  EXPECT_EQ(query(second, counts), (Rows{{"6", "1"}}));

  fields_.types = ovix::defaultFileTypes("DLL");
  recorder.cancelAt = 3;
  EXPECT_FALSE(pack());
  EXPECT_EQ(query(second, counts), (Rows{{"6", "1"}}));
  EXPECT_FALSE(env_.fileExists(second + ".part"));

  recorder.cancelAt = UINT64_MAX;
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(second.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(pack());
  EXPECT_EQ(recorder.messages.back(), "补丁包文件" + second + "，正在被打开使用，请先关闭");
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_EQ(query(second, counts), (Rows{{"6", "1"}}));
}

TEST_F(PackJobTest, ProjectPatchesCarryTheTargetProjectAndDatabaseKeys) {
  tree_.write("projectAttr.zeda", "db1");
  tree_.write("PID/projectPIDAttr.zeda", "db2");
  tree_.write("PID/settings.xml", "<x/>");
  tree_.write("other.zeda", "no db");
  fields_.types = "";
  std::string info = program_.write("P1.ini", "[PatchProject]\nGUID={P-1}\nNAME=一号装置\n");
  for (bool chosen : {true, false}) {
    SCOPED_TRACE(chosen ? "project chosen" : "no project chosen");
    ui_ = FakePackUi();
    if (chosen) ui_.infoFile = info;
    ovix::testing::ScopedRecorder recorder;
    std::string path;
    ASSERT_TRUE(pack("CONFIG", &path));
    EXPECT_EQ(ui_.versionAsked, 1);
    EXPECT_TRUE(ui_.versionProjectMode);
    EXPECT_NE(path.find("abc_项目补丁数据包_"), std::string::npos);
    const std::string guid = chosen ? "{P-1}" : "", name = chosen ? "一号装置" : "";
    EXPECT_EQ(query(path, "SELECT m_type, substr(m_skey, 1, 3), ifnull(m_proj_guid, ''), "
                          "ifnull(m_proj_id, '') FROM OVIXPackageInfo"),
              (Rows{{"CONFIG", "C2B", guid, name}}));
    // A file that follows a database is none.
    EXPECT_EQ(query(path, "SELECT m_skey, m_dbkey FROM OVIXFileRecord ORDER BY rowid"),
              (Rows{{"other.zeda", "<null>"},
                    {"PID\\projectPIDAttr.zeda", "PID\\projectPIDAttr.zeda"},
                    {"PID\\settings.xml", "<null>"},
                    {"projectAttr.zeda", "projectAttr.zeda"}}));
    EXPECT_EQ(recorder.messages.back(), "打包完成，项目包信息：\n\t结果文件：" + path +
                                            "\n\t软件名称：OVIX_VEL\n\t版本名称：V2\n\t项目名称：" +
                                            name + "\n\t项目GUID：" + guid);
  }
}

// The pack reads nothing outside its tree: links are taken only to files
// inside it, and the ones left out are named.  A start directory packs its
// subtree with keys from the root (climbing out is refused with the
// failures).
TEST_F(PackJobTest, NothingOutsideTheTreeIsRead) {
  writeSetup(kFullSetup);
  TempDir outside;
  outside.write("secret.dll", "secret");
  outside.write("dir/in.dll", "secret too");
  tree_.write("bin/a.dll", "a");
  tree_.write("bin/sub/c.dll", "c");
  fs::create_symlink(outside.file("secret.dll"), tree_.file("bin/out.dll"));
  fs::create_symlink(tree_.file("bin/a.dll"), tree_.file("bin/same.dll"));
  fs::create_directory_symlink(outside.file("dir"), tree_.file("linked"));
  fs::create_symlink(tree_.file("missing.dll"), tree_.file("dangling.dll"));
  ovix::testing::ScopedRecorder recorder;
  std::string path;
  const std::string keys = "SELECT m_skey, m_stream FROM OVIXFileRecord ORDER BY rowid";
  ASSERT_TRUE(pack("DLL", &path));
  EXPECT_EQ(query(path, keys), (Rows{{"bin\\a.dll", "a"}, {"bin\\same.dll", "a"},
                                     {"bin\\sub\\c.dll", "c"}, {"ovixsetup.ini", kFullSetup}}));
  ASSERT_EQ(recorder.messages.size(), 2u);
  EXPECT_EQ(recorder.messages[0],
            "以下链接指向路径之外或指向目录，没有打包：\n\tbin\\out.dll\n\tdangling.dll\n\tlinked");

  fields_.subdir = "bin";
  ASSERT_TRUE(pack("DLL", &path));
  EXPECT_EQ(query(path, keys),
            (Rows{{"bin\\a.dll", "a"}, {"bin\\same.dll", "a"}, {"bin\\sub\\c.dll", "c"}}));
}

}  // namespace

namespace {

// The pack signs with a key of minisign -G, named by the fields or by the
// working folder's settings (whose password box a cancel ends silently); a
// key it cannot open stops the pack before anything is written.
TEST_F(PackJobTest, APackSignedWithAMinisignKeyVerifiesWithItsPublicKey) {
  if (std::system("command -v minisign >/dev/null 2>&1") != 0) GTEST_SKIP() << "no minisign";
  const std::string pub = program_.file("k.pub"), key = program_.file("k.key");
  ASSERT_EQ(std::system(("minisign -G -W -p " + pub + " -s " + key + " >/dev/null 2>&1").c_str()), 0);
  writeSetup(kFullSetup);
  tree_.write("bin/a.dll", "abc");
  for (const std::string& unusable : {program_.file("missing.key"), pub}) {
    SCOPED_TRACE(unusable);
    fields_.signingKey = unusable;
    ovix::testing::ScopedRecorder recorder;
    EXPECT_FALSE(pack());
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_NE(recorder.messages[0].find("签名私钥"), std::string::npos) << recorder.messages[0];
    EXPECT_EQ(programFiles(), (std::vector<std::string>{"k.key", "k.pub"})) << "no package";
  }
  fields_.signingKey = key;
  std::string path;
  ovix::testing::ScopedRecorder quiet;
  ASSERT_TRUE(pack("DLL", &path)) << ::testing::PrintToString(quiet.messages);
  ovix::minisign::PublicKey publicKey;
  std::string why;
  ASSERT_TRUE(ovix::minisign::parsePublicKey(program_.read("k.pub"), &publicKey, &why));
  DatabaseHandle db(ovix::openPackageFile(path.c_str()));
  EXPECT_TRUE(ovix::verifyPackage(db.get(), {publicKey}, &why)) << why;

  const std::string encryptedPub = program_.file("e.pub");
  ASSERT_EQ(std::system(("printf 'pw\\npw\\n' | minisign -G -p " + encryptedPub + " -s " +
                         program_.file("e.key") + " >/dev/null 2>&1").c_str()),
            0);
  program_.write(ovix::packIniPath().substr(program_.path().size() + 1), "[Signing]\nKEY=e.key\n");
  fields_.signingKey.clear();
  const auto before = programFiles();
  EXPECT_FALSE(pack());
  EXPECT_EQ(ui_.passwordAsked, 1);
  EXPECT_EQ(programFiles(), before) << "no package";
  ui_.password = "pw";
  ASSERT_TRUE(pack("DLL", &path)) << ::testing::PrintToString(quiet.messages);
  ASSERT_TRUE(ovix::minisign::parsePublicKey(program_.read("e.pub"), &publicKey, &why));
  db.reset(ovix::openPackageFile(path.c_str()));
  EXPECT_TRUE(ovix::verifyPackage(db.get(), {publicKey}, &why)) << why;
}

}  // namespace
