#include "jobs/pack_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "app/working_files.h"
#include "package/package_signature.h"
#include "packing/file_selection.h"
#include "packing/package_key.h"
#include "packing/package_writer.h"
#include "packing/version_input.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"
#include "platform/time_string.h"
#include "testing/fault_env.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
namespace ms = ovix::minisign;
using ovix::testing::crcOf;
using ovix::testing::query;
using ovix::testing::Rows;
using ovix::testing::TempDir;

// Answers the pack job's dialogs from fields a test sets, and counts them.
class FakePackUi : public ovix::PackJobUi {
 public:
  bool versionOk = true, versionProjectMode = false;
  ovix::VersionInfo version{"OVIX_VEL", "V2", "2026-11-30-00-00"};
  std::optional<std::string> infoFile, password;  // none: the dialog is cancelled
  int versionAsked = 0, infoAsked = 0, passwordAsked = 0;

  bool askVersion(bool projectMode, ovix::VersionInfo* info) override {
    ++versionAsked;
    versionProjectMode = projectMode;
    if (versionOk) *info = version;
    return versionOk;
  }
  bool chooseProjectInfoFile(const std::string&, std::string* path) override {
    ++infoAsked;
    return answer(infoFile, path);
  }
  bool askSigningPassword(const std::string&, std::string* typed) override {
    ++passwordAsked;
    return answer(password, typed);
  }
  static bool answer(const std::optional<std::string>& given, std::string* out) {
    if (given) *out = *given;
    return given.has_value();
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
// A minisign secret key (cheap key derivation) whose password is "pw".
constexpr char kEncryptedKey[] =
    "untrusted comment: minisign encrypted secret key\nRWRTY0Iyg4OuvWWmRGGjp0xp6C6fFo0Ur30QIj/1G4F4"
    "DkVllQ0AgAAAAAAAAAAAAAEAAAAAtVWNWRLyRf6YG75v3RSYy4MMOHryDmzsil9/9fIrSmanwaE0CZf2wPcU+rclxqZ2k"
    "XCt+EnMtNuWgSl3v/3yJeWCkbe7yZLEyaiVBPnZGB5DrV6tTy19KmhCLanqB55MAmZGEstzkd8=\n";

class PackJobTest : public ::testing::Test {
 public:
  void SetUp() override {
    registerRecordClasses();
    ovix::testing::setEnvVar("TZ", "UTC");
    env_.clock = 1796374 * 1000;  // 2026-12-05 ... UTC, fixed
    ovix::fillProgramPaths(program_.file("ovixpatch"), std::nullopt);
    fields_.user = "abc";
    fields_.path = tree_.path();
    fields_.types = ovix::defaultFileTypes("DLL");
  }

  bool pack(const std::string& kind = "DLL", std::string* path = nullptr) {
    return ovix::packDialogOk(env_, fields_, kind, ui_, path);
  }

  // The files in the program directory, with their bytes.
  std::map<std::string, std::string> programFiles() {
    std::vector<std::string> files;
    ovix::collectFiles(env_, program_.path(), "", nullptr, files);
    std::map<std::string, std::string> out;
    for (std::string& f : files) out[f] = program_.read(ovix::keyToNativePath(f));
    return out;
  }

  TempDir program_, tree_;
  PackEnv env_;
  FakePackUi ui_;
  ovix::PackDialogFields fields_;
};

// A software patch with a full setup file packs without asking; a large file
// is streamed with its CRC, an unreadable one is packed empty and logged, and
// links are followed only to files inside the tree (the others are named).
// An incomplete setup file makes the pack ask for the version; that package,
// of a start directory, replaces the one of the same minute.
TEST_F(PackJobTest, ASoftwarePatchAsksForTheVersionOnlyWithoutAFullSetupFile) {
  ovix::testing::ScopedRecorder recorder;
  tree_.write("ovixsetup.ini", kFullSetup);
  std::string big(static_cast<size_t>(ovix::kInMemoryFileBytes) * 2 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 2654435761u >> 13);
  tree_.write("bin/a.DLL", "aaa");
  tree_.write("bin/big.dll", big);
  tree_.write("bin/readme.txt", "not a type");
  tree_.write("bin/sub/c.dll", "c");
  env_.unreadable = tree_.write("lua/locked.lua", "secret");
  TempDir outside;
  // Links are never packed (where the system makes none, there are none).
  using ovix::testing::makeSymbolicLink;
  const bool links =
      makeSymbolicLink(outside.write("secret.dll", "secret"), tree_.file("bin/out.dll"));
  makeSymbolicLink(tree_.file("bin/a.DLL"), tree_.file("bin/same.dll"));
  makeSymbolicLink(outside.mkdir("dir"), tree_.file("linked"));
  outside.write("dir/in.dll", "secret too");
  makeSymbolicLink(tree_.file("missing.dll"), tree_.file("dangling.dll"));
  std::string path;
  ASSERT_TRUE(pack("DLL", &path)) << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(ui_.versionAsked + ui_.infoAsked, 0);
  const std::string stamp = ovix::formatLocalTime(env_.now(), "%Y%m%d_%H%M");
  EXPECT_EQ(path, program_.file("abc/abc_软件补丁数据包_" + stamp + ".package"));
  const std::string key = "A3A" + ovix::formatLocalTime(env_.now(), "%Y%m%d%H%M");
  EXPECT_EQ(query(path, "SELECT m_skey, m_ref_tblname, m_type, m_name, m_ver_time, m_kernal_time, "
                        "m_pack_time, m_force, m_depend, length(m_guid) FROM OVIXPackageInfo"),
            (Rows{{key, key, "DLL", "OVIX_TARNO", "2026-12-01", "2026-01-01",
                   ovix::formatLocalTime(env_.now(), "%Y-%m-%d-%H-%M"), "1", "0", "38"}}));
  // The unreadable file has the CRC of no bytes, which a download accepts.
  const std::string files = "SELECT m_skey, m_crc, length(m_stream) FROM OVIXFileRecord";
  Rows inBin = {{"bin\\a.DLL", crcOf("aaa"), "3"},
                {"bin\\big.dll", crcOf(big), std::to_string(big.size())},
                {"bin\\same.dll", crcOf("aaa"), "3"},  // a link inside the tree: its file
                {"bin\\sub\\c.dll", crcOf("c"), "1"}};
  if (!links) inBin.erase(inBin.begin() + 2);
  Rows all = inBin;
  all.push_back({"lua\\locked.lua", "00000000", "0"});
  all.push_back({"ovixsetup.ini", crcOf(kFullSetup), std::to_string(sizeof(kFullSetup) - 1)});
  EXPECT_EQ(query(path, files + " ORDER BY rowid"), all);
  EXPECT_NE(program_.read("ovixpatch.logfile").find("locked.lua"), std::string::npos);
  std::vector<std::string> messages = {
      "以下链接指向路径之外或指向目录，没有打包：\n\tbin\\out.dll\n\tdangling.dll\n\tlinked",
      "打包完成，包版本信息：\n\t结果文件：" + path +
          "\n\t软件名称：OVIX_TARNO\n\t版本名称：V3\n\t版本日期：2026-12-01"};
  if (!links) messages.erase(messages.begin());
  EXPECT_EQ(recorder.messages, messages);

  tree_.write("ovixsetup.ini", "[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V1\n");
  fields_.subdir = "bin";
  recorder.messages.clear();
  ASSERT_TRUE(pack());
  EXPECT_EQ(ui_.versionAsked, 1);
  EXPECT_FALSE(ui_.versionProjectMode);
  EXPECT_EQ(recorder.messages.front(),
            "安装路径下无ovixsetup.ini文件，请手动输入处理相关信息，需要小心！");
  EXPECT_EQ(query(path, "SELECT substr(m_skey, 1, 3), m_name, m_ver_time, m_kernal_time "
                        "FROM OVIXPackageInfo"),
            (Rows{{"C2A", "OVIX_VEL", "2026-11-30-00-00", "2026-11-30-00-00"}}));
  EXPECT_EQ(query(path, files + " ORDER BY rowid"), inBin);
}

// Every failure keeps the dialog open with its message and leaves the
// program directory as it was, with the earlier package of the same minute:
// bad fields and keys, names no workstation could install, files too large
// for a row, start directories that climb out of the tree, a cancel, and
// the earlier package open elsewhere.
TEST_F(PackJobTest, FailuresLeaveTheEarlierPackageAndWriteNothing) {
  using Arrange = std::function<void()>;
  struct Case {
    const char* name;
    Arrange arrange;
    const char* message;  // in the last message shown, or null for none
  };
  uint64_t cancelAt = UINT64_MAX;
  sqlite3* holder = nullptr;  // holds the earlier package open
  std::string earlier;
  // A name that a Windows file system cannot hold: no such file there.
  auto posixName = [this](const char* n) -> Arrange {
#ifdef _WIN32
    (void)n;
    return nullptr;
#else
    return [this, n] { tree_.write(n, ""); };
#endif
  };
  auto subdir = [this](const char* s) -> Arrange { return [this, s] { fields_.subdir = s; }; };
  auto user = [this](const char* u) -> Arrange { return [this, u] { fields_.user = u; }; };
  auto types = [this](const char* s) -> Arrange { return [this, s] { fields_.types = s; }; };
  auto key = [this](const char* k, const char* text) -> Arrange {  // text null: no such file
    return [=, this] {
      fields_.signingKey = text != nullptr ? tree_.write(k, text) : tree_.file(k);
    };
  };
  const Case cases[] = {
      {"version dialog cancelled", [this] { ui_.versionOk = false; }, nullptr},
      {"name without code", [this] { ui_.version.name = "OVIX_KESTRIL"; },
       "打包错误，对不上版本信息，无法对包进行编码"},
      {"version without code", [this] { ui_.version.version = "V7"; },
       "打包错误，对不上版本信息，无法对包进行编码"},
      {"no matching file", types("EXE"), "路径下无文件：%ROOT%"},
      {"empty path", [this] { fields_.path = ""; }, "路径下无文件："},
      {"user above the program directory", user("../x"), "用户名../x不能用作文件夹名，无法打包"},
      {"user is the parent", user(".."), "用户名..不能用作文件夹名"},
      {"user with a sub-folder", user("a/b"), "用户名a/b不能用作文件夹名"},
      {"file list outside the user folder", types("..\\..\\etc\\list.csv"),
       "列表文件名..\\..\\etc\\list.csv不在用户文件夹之内，无法打包"},
      {"absolute file list", types("/etc/x"), "列表文件名/etc/x不在用户文件夹之内"},
      {"exclusion list outside the user folder",
       [this] {
         fields_.subdir = "../../" + ovix::baseName(tree_.path()) + "/list.csv";
         tree_.write("list.csv", "header\nbin\n");
       },
       "列表文件名../../%TREE%/list.csv不在用户文件夹之内"},
      {"name leaving the tree", posixName("..\\x.dll"),
       "文件(..\\x.dll)的路径不在安装目录之内，工作站不能安装，打包被拒绝"},
      {"name with a drive", posixName("c:x.dll"), "文件(c:x.dll)的路径不在安装目录之内"},
      {"name with a line break", posixName("line\nbreak.dll"), "文件(line\\x0Abreak.dll)的路径含有控制字符"},
      {"name not UTF-8", posixName("\xff.dll"), "文件(\\xFF.dll)的路径不是有效的文字编码"},
      {"name Windows refuses", posixName("what?.dll"), "文件(what?.dll)的路径含有Windows不允许的字符或名称"},
      {"file larger than a row",  // sparse: no disk space used
       [this] { fs::resize_file(tree_.write("huge.dll", ""), 1000000001); },
       "文件(%ROOT%/huge.dll)太大（1000000001字节），数据包中的文件不能超过999934464字节"},
      {"start directory above", subdir(".."), "子目录..不在路径%ROOT%之内，打包被拒绝"},
      {"start directory climbing", subdir("bin\\..\\.."), "子目录bin\\..\\..不在路径%ROOT%之内"},
      {"start directory beside", subdir("../other"), "子目录../other不在路径%ROOT%之内"},
      {"signing key missing", key("none.key", nullptr), "签名私钥%ROOT%/none.key无法使用："},
      {"signing key that is none", key("k.pub", "untrusted comment: x\nRWQ\n"),
       "签名私钥%ROOT%/k.pub无法使用："},
      {"cancelled while packing",
       [&] {
         tree_.write("b.dll", "y");
         cancelAt = 1;
       },
       nullptr},
      {"earlier package open elsewhere",
       [&] {
         ASSERT_EQ(sqlite3_open(earlier.c_str(), &holder), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
       },
       "补丁包文件%EARLIER%，正在被打开使用，请先关闭"},
  };
  tree_.write("a.dll", "x");
  {
    ovix::testing::ScopedRecorder quiet;
    ASSERT_TRUE(pack("DLL", &earlier));
  }
  const auto before = programFiles();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.arrange) continue;
    fields_ = ovix::PackDialogFields();
    PackJobTest::SetUp();
    for (const auto& entry : fs::directory_iterator(tree_.path())) fs::remove_all(entry.path());
    tree_.write("a.dll", "x");
    ui_ = FakePackUi();
    cancelAt = UINT64_MAX;
    c.arrange();
    ovix::testing::ScopedRecorder recorder;
    recorder.cancelAt = cancelAt;
    EXPECT_FALSE(pack());
    if (holder != nullptr) sqlite3_close(holder), holder = nullptr;
    if (c.message == nullptr) {
      EXPECT_EQ(recorder.messages.size(), 1u);  // the setup-file notice only
    } else {
      std::string expected = std::regex_replace(c.message, std::regex("%ROOT%"), tree_.path());
      expected = std::regex_replace(expected, std::regex("%TREE%"), ovix::baseName(tree_.path()));
      expected = std::regex_replace(expected, std::regex("%EARLIER%"), earlier);
      EXPECT_THAT(recorder.messages.back(), ::testing::HasSubstr(expected));
    }
    EXPECT_TRUE(programFiles() == before) << ::testing::PrintToString(programFiles());
  }
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

// A key that the working folder's settings name has its password asked
// for: a cancel packs nothing.  The package signed as it is packed verifies
// whole, its large file hashed while streamed: a change at its end shows.
// Each m1 may still be hashed while the small m2 is hashed at once and m3 is
// read: m3 must not land in m1's buffer.
TEST_F(PackJobTest, ASettingsKeyAsksForItsPasswordAndSignsThePackageWhole) {
  program_.write("e.key", kEncryptedKey);
  program_.write(ovix::packIniPath().substr(program_.path().size() + 1), "[Signing]\nKEY=e.key\n");
  tree_.write("ovixsetup.ini", kFullSetup);
  tree_.write("bin/a.dll", "abc");
  tree_.write("bin/big.bin", std::string(5 << 20, 'b'));  // larger than a file read whole
  for (char group = 'a'; group <= 'z'; ++group) {
    const std::string dir = std::string("g") + group + "/";
    tree_.write(dir + "m1.dll", std::string(100 << 10, group));
    tree_.write(dir + "m2.dll", "small");
    tree_.write(dir + "m3.dll", std::string(100 << 10, '3'));
  }
  fields_.types = "DLL,BIN";
  ovix::testing::ScopedRecorder recorder;
  const auto before = programFiles();
  EXPECT_FALSE(pack());
  EXPECT_EQ(ui_.passwordAsked, 1);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_TRUE(programFiles() == before) << "no package";
  ui_.password = "pw";
  std::string path, why;
  ASSERT_TRUE(pack("DLL", &path)) << ::testing::PrintToString(recorder.messages);
  ms::SecretKey secret;
  ASSERT_TRUE(ms::parseSecretKey(kEncryptedKey, "pw", &secret, &why)) << why;
  const ms::PublicKey key = ms::publicKeyOf(secret);
  DatabaseHandle db(ovix::openPackageFile(path.c_str()));
  EXPECT_TRUE(ovix::verifyPackage(db.get(), {key}, &why)) << why;
  ASSERT_TRUE(db->connection()->execute(
      "update OVIXFileRecord set m_stream=cast(substr(m_stream, 1, length(m_stream) - 1) || 'c' "
      "as blob) where m_skey='bin\\big.bin'"));
  EXPECT_FALSE(ovix::verifyPackage(db.get(), {key}, &why));
  EXPECT_NE(why.find("文件bin\\big.bin的数据与签名时不同"), std::string::npos) << why;
}

TEST_F(PackJobTest, PackageKeyCodesAreExactAndTheTimeIsTwelveDigits) {
  const char* time = "2026-12-04-09-05";
  EXPECT_EQ(ovix::encodePackageKey("OVIX_MORBIX", "V4", time, "INSTALL"), "D4C202612040905");
  EXPECT_EQ(ovix::encodePackageKey("ovix_tarno", "V1", time, "DLL"), "");
  EXPECT_EQ(ovix::encodePackageKey("OVIX_TARNO", "V1", time, "dll"), "");
  EXPECT_EQ(ovix::encodePackageKey(nullptr, "V1", time, "DLL"), "");
}

}  // namespace
