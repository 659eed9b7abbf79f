#include "jobs/pack_job.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "package/package_file.h"
#include "packing/file_selection.h"
#include "packing/package_writer.h"
#include "platform/crc.h"
#include "platform/path_text.h"
#include "platform/program_paths.h"
#include "platform/time_string.h"
#include "testing/fault_env.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

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

struct Row {
  std::string key, crc, dbkey;  // dbkey "<null>" for NULL
  int64_t size = 0;
};

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

  // Every file row of a package, read with the sqlite3 C API.
  static std::vector<Row> fileRows(const std::string& package) {
    std::vector<Row> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(package.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT m_skey, m_crc, m_dbkey, length(m_stream), m_guid IS NULL, m_version "
                       "FROM OVIXFileRecord ORDER BY rowid",
                       -1, &stmt, nullptr);
    auto text = [&](int column) {
      auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return std::string(t != nullptr ? t : "<null>");
    };
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      rows.push_back({text(0), text(1), text(2), sqlite3_column_int64(stmt, 3)});
      EXPECT_EQ(sqlite3_column_int(stmt, 4), 1) << "m_guid is not set by packing";
      EXPECT_EQ(sqlite3_column_int(stmt, 5), 0);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
  }

  static std::unique_ptr<OVIXPackageInfo> header(const std::string& package) {
    DatabaseHandle db(ovix::openPackageFile(package.c_str()));
    std::vector<std::unique_ptr<ZdDbObject>> rows;
    db->selectSql("select * from OVIXPackageInfo", OVIXPackageInfo::desc(), rows, 0);
    EXPECT_EQ(rows.size(), 1u);
    if (rows.empty()) return nullptr;
    return std::unique_ptr<OVIXPackageInfo>(OVIXPackageInfo::cast(rows[0].release()));
  }

  TempDir program_, tree_;
  PackEnv env_;
  FakePackUi ui_;
  ovix::PackDialogFields fields_;
};

constexpr char kFullSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2026-12-01\n";

// A software patch with a full setup file packs without asking; a large file
// is streamed with its CRC, and an unreadable one is packed empty and logged.
TEST_F(PackJobTest, ASoftwarePatchWithASetupFilePacksWithoutAsking) {
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

  auto h = header(path);
  std::string key = "A3A" + ovix::formatLocalTime(env_.now(), "%Y%m%d%H%M");
  EXPECT_STREQ(h->skey(), key.c_str());
  EXPECT_STREQ(h->refTblname(), key.c_str());
  EXPECT_STREQ(h->type(), "DLL");
  EXPECT_STREQ(h->name(), "OVIX_TARNO");
  EXPECT_STREQ(h->verTime(), "2026-12-01");
  EXPECT_STREQ(h->kernalTime(), "2026-01-01");
  EXPECT_STREQ(h->packTime(), ovix::formatLocalTime(env_.now(), "%Y-%m-%d-%H-%M").c_str());
  EXPECT_TRUE(std::regex_match(std::string(h->guid()), std::regex("\\{[0-9A-F-]{36}\\}")));
  EXPECT_TRUE(h->force());
  EXPECT_FALSE(h->depend());
  EXPECT_EQ(h->projGuid(), nullptr);
  EXPECT_EQ(h->dependGuid(), nullptr);

  std::vector<Row> rows = fileRows(path);
  ASSERT_EQ(rows.size(), 4u);  // ovixsetup.ini is an INI file too
  EXPECT_EQ(rows[0].key, "bin\\a.DLL");
  EXPECT_EQ(rows[0].crc, crc::crc32_file_str(env_, tree_.file("bin/a.DLL")));
  EXPECT_EQ(rows[0].size, 3);
  EXPECT_EQ(rows[0].dbkey, "<null>");
  EXPECT_EQ(rows[1].size, static_cast<int64_t>(big.size()));
  EXPECT_EQ(rows[1].crc, crc::crc32_file_str(env_, tree_.file("bin/big.dll")));
  EXPECT_EQ(rows[2].key, "lua\\locked.lua");
  EXPECT_EQ(rows[2].size, 0);
  EXPECT_EQ(rows[2].crc, "00000000");  // the CRC of no bytes, which a download accepts
  EXPECT_NE(program_.read("ovixpatch.logfile").find("locked.lua"), std::string::npos);
  EXPECT_EQ(rows[3].key, "ovixsetup.ini");
  EXPECT_EQ(recorder.messages, std::vector<std::string>{
                                   "打包完成，包版本信息：\n\t结果文件：" + path +
                                   "\n\t软件名称：OVIX_TARNO\n\t版本名称：V3\n\t版本日期：2026-12-01"});
}

TEST_F(PackJobTest, AnIncompleteSetupFileAsksForTheVersion) {
  writeSetup("[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V1\n");
  tree_.write("a.dll", "x");
  ovix::testing::ScopedRecorder recorder;
  std::string path;
  ASSERT_TRUE(pack("DLL", &path));
  EXPECT_EQ(ui_.versionAsked, 1);
  EXPECT_FALSE(ui_.versionProjectMode);
  EXPECT_EQ(recorder.messages.front(),
            "安装路径下无ovixsetup.ini文件，请手动输入处理相关信息，需要小心！");
  auto h = header(path);
  EXPECT_STREQ(h->name(), "OVIX_VEL");
  EXPECT_STREQ(h->verTime(), "2026-11-30-00-00");
  EXPECT_STREQ(h->kernalTime(), "2026-11-30-00-00");
  EXPECT_EQ(std::string(h->skey()).substr(0, 3), "C2A");
}

TEST_F(PackJobTest, FailuresWriteNothingAndKeepTheDialogOpen) {
  struct Case {
    const char* name;
    std::function<void(PackJobTest&)> arrange;
    const char* message;  // the last message shown, or null for none
  };
  const Case cases[] = {
      {"version dialog cancelled", [](PackJobTest& t) { t.ui_.versionOk = false; }, nullptr},
      {"name without code",
       [](PackJobTest& t) { t.ui_.version.name = "OVIX_KESTRIL"; },
       "打包错误，对不上版本信息，无法对包进行编码"},
      {"version without code",
       [](PackJobTest& t) { t.ui_.version.version = "V7"; },
       "打包错误，对不上版本信息，无法对包进行编码"},
      {"no matching file",
       [](PackJobTest& t) { t.fields_.types = "EXE"; },
       "路径下无文件：%ROOT%"},
      {"empty path", [](PackJobTest& t) { t.fields_.path = ""; }, "路径下无文件："},
      {"missing start directory",
       [](PackJobTest& t) { t.fields_.subdir = "nowhere"; },
       "路径下无文件：%ROOT%"},
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
  };
  for (const Case& c : cases) {
    PackJobTest::SetUp();
    tree_.write("a.dll", "x");
    ui_ = FakePackUi();
    c.arrange(*this);
    ovix::testing::ScopedRecorder recorder;
    EXPECT_FALSE(pack()) << c.name;
    if (c.message == nullptr) {
      EXPECT_EQ(recorder.messages.size(), 1u) << c.name;  // the setup-file notice only
    } else {
      std::string expected = std::regex_replace(c.message, std::regex("%ROOT%"), tree_.path());
      expected = std::regex_replace(expected, std::regex("%TREE%"), ovix::baseName(tree_.path()));
      EXPECT_EQ(recorder.messages.back(), expected) << c.name;
    }
    std::vector<std::string> left;
    ovix::collectFiles(env_, program_.path(), "", nullptr, left);
    EXPECT_TRUE(left.empty()) << c.name << ": " << ::testing::PrintToString(left);
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
  auto unchanged = [&] {
    std::vector<Row> rows = fileRows(second);
    return rows.size() == 6u && rows[0].size == 7;
  };
  EXPECT_TRUE(unchanged());
  tree_.write("f0.dll", "third!!!");

  fields_.types = "EXE";  // nothing to pack
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(pack());
  EXPECT_TRUE(unchanged());

  fields_.types = ovix::defaultFileTypes("DLL");
  recorder.cancelAt = 3;
  EXPECT_FALSE(pack());
  EXPECT_TRUE(unchanged());
  EXPECT_FALSE(env_.fileExists(second + ".part"));

  recorder.cancelAt = UINT64_MAX;
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(second.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(pack());
  EXPECT_EQ(recorder.messages.back(), "补丁包文件" + second + "，正在被打开使用，请先关闭");
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_TRUE(unchanged());
}

TEST_F(PackJobTest, ProjectPatchesCarryTheTargetProjectAndDatabaseKeys) {
  tree_.write("projectAttr.zeda", "db1");
  tree_.write("PID/projectPIDAttr.zeda", "db2");
  tree_.write("PID/settings.xml", "<x/>");
  tree_.write("other.zeda", "no db");
  fields_.types = "";
  std::string info = program_.write("P1.ini", "[PatchProject]\nGUID={P-1}\nNAME=一号装置\n");
  for (bool chosen : {true, false}) {
    ui_ = FakePackUi();
    if (chosen) ui_.infoFile = info;
    ovix::testing::ScopedRecorder recorder;
    std::string path;
    ASSERT_TRUE(pack("CONFIG", &path));
    EXPECT_EQ(ui_.versionAsked, 1);
    EXPECT_TRUE(ui_.versionProjectMode);
    EXPECT_NE(path.find("abc_项目补丁数据包_"), std::string::npos);
    auto h = header(path);
    EXPECT_STREQ(h->type(), "CONFIG");
    EXPECT_EQ(std::string(h->skey()).substr(0, 3), "C2B");
    if (chosen) {
      EXPECT_STREQ(h->projGuid(), "{P-1}");
      EXPECT_STREQ(h->projId(), "一号装置");
    } else {
      EXPECT_EQ(h->projGuid(), nullptr);
      EXPECT_EQ(h->projId(), nullptr);
    }
    std::vector<Row> rows = fileRows(path);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].key, "other.zeda");
    EXPECT_EQ(rows[0].dbkey, "<null>");
    EXPECT_EQ(rows[1].key, "PID\\projectPIDAttr.zeda");
    EXPECT_EQ(rows[1].dbkey, "PID\\projectPIDAttr.zeda");
    EXPECT_EQ(rows[2].key, "PID\\settings.xml");
    EXPECT_EQ(rows[2].dbkey, "<null>");  // follows a database, is none
    EXPECT_EQ(rows[3].dbkey, "projectAttr.zeda");
    std::string expected = "打包完成，项目包信息：\n\t结果文件：" + path +
                           "\n\t软件名称：OVIX_VEL\n\t版本名称：V2\n\t项目名称：" +
                           (chosen ? "一号装置" : "") + "\n\t项目GUID：" + (chosen ? "{P-1}" : "");
    EXPECT_EQ(recorder.messages.back(), expected);
  }
}

// The pack reads nothing outside its tree: links are taken only to files
// inside it, and the ones left out are named.  A start directory packs its
// subtree with keys from the root, but may not climb out.
TEST_F(PackJobTest, NothingOutsideTheTreeIsRead) {
  writeSetup(kFullSetup);
  TempDir outside;
  outside.write("secret.dll", "secret");
  outside.write("dir/in.dll", "secret too");
  tree_.write("bin/a.dll", "a");
  tree_.write("bin/sub/c.dll", "c");
  std::filesystem::create_symlink(outside.file("secret.dll"), tree_.file("bin/out.dll"));
  std::filesystem::create_symlink(tree_.file("bin/a.dll"), tree_.file("bin/same.dll"));
  std::filesystem::create_directory_symlink(outside.file("dir"), tree_.file("linked"));
  std::filesystem::create_symlink(tree_.file("missing.dll"), tree_.file("dangling.dll"));
  ovix::testing::ScopedRecorder recorder;
  std::string path;
  ASSERT_TRUE(pack("DLL", &path));
  std::vector<std::string> keys;
  for (const Row& row : fileRows(path)) keys.push_back(row.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"bin\\a.dll", "bin\\same.dll", "bin\\sub\\c.dll",
                                            "ovixsetup.ini"}));
  ASSERT_EQ(recorder.messages.size(), 2u);
  EXPECT_EQ(recorder.messages[0],
            "以下链接指向路径之外或指向目录，没有打包：\n\tbin\\out.dll\n\tdangling.dll\n\tlinked");

  fields_.subdir = "bin";
  ASSERT_TRUE(pack("DLL", &path));
  keys.clear();
  for (const Row& row : fileRows(path)) keys.push_back(row.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"bin\\a.dll", "bin\\same.dll", "bin\\sub\\c.dll"}));

  // A start directory that climbs out is refused, whatever it is written as.
  for (const char* subdir : {"..", "bin\\..\\..", "../other"}) {
    fields_.subdir = subdir;
    recorder.messages.clear();
    EXPECT_FALSE(pack()) << subdir;
    ASSERT_EQ(recorder.messages.size(), 1u) << subdir;
    EXPECT_EQ(recorder.messages[0].find("子目录"), 0u) << recorder.messages[0];
  }
}

// A file whose name no workstation could install stops the pack, named: a
// release never carries a package that every workstation refuses.
TEST_F(PackJobTest, NamesAWorkstationWouldRefuseStopThePack) {
  writeSetup(kFullSetup);
  tree_.write("a.dll", "a");
  struct Case {
    const char* name;
    const char* message;
  } cases[] = {
      {"..\\x.dll", "文件(..\\x.dll)的路径不在安装目录之内，工作站不能安装，打包被拒绝"},
      {"c:x.dll", "文件(c:x.dll)的路径不在安装目录之内"},
      {"line\nbreak.dll", "文件(line\\x0Abreak.dll)的路径含有控制字符"},
      {"\xff.dll", "文件(\\xFF.dll)的路径不是有效的文字编码"},
      {"what?.dll", "文件(what?.dll)的路径含有Windows不允许的字符或名称"},
  };
  for (const Case& c : cases) {
    tree_.write(c.name, "odd");
    ovix::testing::ScopedRecorder recorder;
    std::string path;
    EXPECT_FALSE(pack("DLL", &path)) << c.message;
    ASSERT_EQ(recorder.messages.size(), 1u) << c.message;
    EXPECT_EQ(recorder.messages[0].find(c.message), 0u) << recorder.messages[0];
    EXPECT_TRUE(path.empty());
    std::filesystem::remove(tree_.file(c.name));
  }
}

TEST_F(PackJobTest, AFileLargerThanAPackageRowIsRefusedByName) {
  writeSetup(kFullSetup);
  std::string huge = tree_.write("huge.dll", "");
  ASSERT_EQ(::truncate(huge.c_str(), 1000000001), 0);  // sparse: no disk space used
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(pack());
  ASSERT_FALSE(recorder.messages.empty());
  EXPECT_NE(recorder.messages.back().find("huge.dll"), std::string::npos);
  EXPECT_NE(recorder.messages.back().find("1000000001"), std::string::npos);
  std::vector<std::string> left;
  ovix::collectFiles(env_, program_.path(), "", nullptr, left);
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
}

}  // namespace
