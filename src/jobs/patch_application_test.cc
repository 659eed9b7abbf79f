// Applying patches from the store to an installation, on both server
// backends: the whole road from packing to a workstation, the choice of
// patches, failures that restore, and keys that try to leave.

#include "update/patch_application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "app/application.h"
#include "app/easy_log.h"
#include "app/ini_file.h"
#include "package/package_file.h"
#include "package/server_address.h"
#include "jobs/pack_job.h"
#include "platform/zeda_system.h"
#include "server/upload.h"
#include "testing/package_builder.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"
#include "update/installation_lock.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ovix::testing::Backend;
using ovix::testing::ScopedRecorder;
using ovix::testing::TempDir;

// Answers the pack job's version dialog; the setup file makes it unneeded.
class NoDialogs : public ovix::PackJobUi {
 public:
  bool askVersion(bool, ovix::VersionInfo*) override { return false; }
  bool chooseProjectInfoFile(const std::string&, std::string*) override { return false; }
};

std::map<std::string, std::string> treeContents(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string rel = fs::relative(entry.path(), root).string();
    if (rel.rfind("patch/", 0) == 0 || rel.rfind("temp/", 0) == 0 || rel == "ovixsetup.ini" ||
        rel == ovix::kInstallationLockFile)
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    out[rel] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return out;
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  return names;
}

constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n";

// An installation with a full setup file and a tree to pack.
class PatchApplicationTest : public ovix::testing::ProjectServerTest {
 protected:
  void SetUp() override {
    ProjectServerTest::SetUp();
    ZedaSystem::setInstallRoot(install_.path());
    install_.mkdir("temp");
    ovix::openRunLog(&env_);
    writeSetup(kSetup);
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  // Packs `tree_` as a software patch and uploads it; returns its key.
  std::string packAndUpload(const std::string& types = "") {
    ovix::PackDialogFields fields{"rel", tree_.path(), "", types};
    NoDialogs ui;
    std::string package;
    ScopedRecorder quiet;
    EXPECT_TRUE(ovix::packDialogOk(env_, fields, "DLL", ui, &package))
        << ::testing::PrintToString(quiet.messages);
    EXPECT_TRUE(ovix::uploadPackage(env_, package, address(), port()))
        << ::testing::PrintToString(quiet.messages);
    DatabaseHandle db(ovix::openPackageFile(package.c_str()));
    std::vector<std::vector<KVParams>> rows;
    db->selectSql("select m_skey from OVIXPackageInfo", {ovix::makeColumnParam("m_skey")}, rows);
    return rows.empty() ? "" : ovix::rowText(rows[0][0]);
  }

  bool apply() { return ovix::openPatchStoreAndApply(env_, install_.path().c_str(), address(), port()); }
  bool check() { return ovix::openPatchStoreAndCheck(env_, install_.path().c_str(), address(), port()); }

  // The store with its header table.
  DatabaseHandle storeWithHeaders() {
    DatabaseHandle db = store();
    ovix::createClassTable(db->getFilter(0), "OVIXPackageInfo", OVIXPackageInfo::desc());
    return db;
  }

  void addHeader(ZdDbDataBase* db, const char* key, const char* packTime, bool depend = false,
                 const char* guid = nullptr, const char* dependGuid = nullptr,
                 const char* name = "OVIX_TARNO", const char* table = nullptr) {
    OVIXPackageInfo h;
    h.setSkey(key);
    h.setName(name);
    h.setVer("V3");
    h.setPackTime(packTime);
    h.setDepend(depend);
    h.setGuid(guid);
    h.setDependGuid(dependGuid);
    h.setRefTblname(table != nullptr ? table : key);
    ASSERT_EQ(ovix::writeRecord(db, "OVIXPackageInfo", &h, 1), 0);
  }

  void writeSetup(const std::string& contents) {
    tree_.write("ovixsetup.ini", contents);
    install_.write("ovixsetup.ini", contents);
  }

  std::string setupValue(const char* key) {
    ovix::IniFile ini;
    ini.load(env_, install_.file("ovixsetup.ini"));
    char const* v = ini.getValue("OVIX", key);
    return v ? v : "<none>";
  }

  // The staging folders left in the installation.
  std::vector<std::string> stagingFolders() {
    std::vector<std::string> names;
    if (!fs::exists(install_.file("patch"))) return names;
    for (const std::string& name : namesIn(install_.file("patch")))
      if (name.rfind(".staging-", 0) == 0) names.push_back(name);
    return names;
  }

  TempDir tree_, install_;
};

TEST_P(PatchApplicationTest, PackUploadDownloadMakesTheOlderCopyEqualToTheTree) {
  tree_.write("bin/v80-win32/kernel.dll", std::string(5 << 20, 'K'));  // streamed
  tree_.write("bin/v80-win32/ui.dll", "new ui");
  tree_.write("lua/中文.lua", "print('新')");
  tree_.write("xml/new.xml", "<new/>");
  install_.write("bin/v80-win32/kernel.dll", "old kernel");
  install_.write("bin/v80-win32/ui.dll", "old ui");
  install_.write("lua/中文.lua", "old");
  std::string key = packAndUpload();
  ASSERT_FALSE(key.empty());

  ScopedRecorder recorder;
  ASSERT_TRUE(check());
  ASSERT_TRUE(apply()) << ::testing::PrintToString(recorder.messages);
  // Compared as a whole, but printed briefly: the files are large.
  EXPECT_TRUE(treeContents(install_.path()) == treeContents(tree_.path()));
  EXPECT_EQ(setupValue("PATCH"), key);
  EXPECT_EQ(setupValue("NAME"), "OVIX_TARNO");
  // Every replaced file's earlier bytes are in the package's backup folder.
  EXPECT_EQ(install_.read("patch/" + key + "/bin/v80-win32/ui.dll"), "old ui");
  EXPECT_FALSE(fs::exists(install_.file("patch/" + key + "/xml/new.xml")));  // was not there
  EXPECT_TRUE(stagingFolders().empty());
  EXPECT_NE(install_.read("temp/autoPatchLog.txt").find("Update file:"), std::string::npos);

  // Up to date now: nothing newer, which the run log explains.
  EXPECT_FALSE(check());
  EXPECT_NE(install_.read("temp/autoPatchLog.txt").find("版本数据库中没有比之更新的补丁"),
            std::string::npos);
  EXPECT_TRUE(recorder.messages.empty()) << ::testing::PrintToString(recorder.messages);
}

// Newer means more than sixty seconds newer, the first of close ones wins,
// and dependents follow their base by guid.
TEST_P(PatchApplicationTest, TheChosenPatchIsTheFirstClearlyNewerOneWithItsDependents) {
  DatabaseHandle db = storeWithHeaders();
  addHeader(db.get(), "A3A1", "2026-12-04 09:01:00");    // 60 s after the install date: not newer
  addHeader(db.get(), "A3A2", "2026-12-04 09:02:00");    // newer
  addHeader(db.get(), "A3A3", "2026-12-04 09:02:30");    // 30 s after A3A2: A3A2 stays
  addHeader(db.get(), "A3A4", "2026-12-05", false, nullptr, nullptr, "OVIX_VEL");  // other product
  struct Case {
    const char* version;
    const char* name;
    const char* installed;
    const char* chosen;  // null: none
  } cases[] = {
      {"v3", "ovix_tarno", "202612040900", "A3A2"},
      {"V3", "OVIX_TARNO", "2026-12-04 09:00:59", "A3A2"},  // 61 s newer; A3A1 is 1 s
      {"V3", "OVIX_TARNO", "2026-12-04 09:01:30", nullptr},  // A3A3 is exactly 60 s newer
  };
  std::vector<OVIXPackageInfo*> dependents;
  for (const Case& c : cases) {
    std::vector<std::unique_ptr<ZdDbObject>> headers;
    OVIXPackageInfo* best = ovix::findNewerPatch(c.version, c.name, c.installed, db.get(), headers, &dependents);
    EXPECT_STREQ(best ? best->skey() : nullptr, c.chosen) << c.installed;
  }

  ASSERT_EQ(db->exeSql("delete from OVIXPackageInfo"), 0);
  addHeader(db.get(), "A3A1", "2026-12-04-10-00", false, "{BASE}");
  addHeader(db.get(), "A3A2", "2026-12-04-11-00", true, nullptr, "{BASE}");
  addHeader(db.get(), "A3A3", "2026-12-04-12-00", true, nullptr, "{base}");   // case matters
  addHeader(db.get(), "A3A4", "2026-12-04-10-00", true, nullptr, "{BASE}");   // not after the base
  addHeader(db.get(), "A3A5", "2026-12-04-13-00", true, nullptr, "{BASE}");
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  OVIXPackageInfo* best =
      ovix::findNewerPatch("V3", "OVIX_TARNO", "2026-01-01", db.get(), headers, &dependents);
  ASSERT_NE(best, nullptr);
  EXPECT_STREQ(best->skey(), "A3A1");
  ASSERT_EQ(dependents.size(), 2u);
  EXPECT_STREQ(dependents[0]->skey(), "A3A2");
  EXPECT_STREQ(dependents[1]->skey(), "A3A5");
}

// Every record is checked on the very values that are then written, and a
// package with one bad record changes nothing.
TEST_P(PatchApplicationTest, RecordsThatAreNotSafeToWriteRefuseThePackageNamingTheKey) {
  tree_.write("a.dll", "x");
  std::string key = packAndUpload();
  struct Case {
    std::string key;
    const char* message;
    const char* crc = nullptr;  // the bytes' own
  } cases[] = {
      {"..\\x", "补丁中的文件路径..\\x不在安装目录之内，补丁被拒绝"},
      {"a\\..\\..\\x", "不在安装目录之内"},
      {"C:\\x", "不在安装目录之内"},
      {"\\\\host\\share\\x", "不在安装目录之内"},
      {"/etc/x", "不在安装目录之内"},
      {"a\\.\\b", "不在安装目录之内"},
      {"a\nb.dll", "补丁中的文件路径a\\x0Ab.dll含有控制字符，补丁被拒绝"},
      {"\x1b[2J.dll", "\\x1B[2J.dll含有控制字符"},
      {"\xff\xfe.dll", "\\xFF\\xFE.dll不是有效的文字编码"},
      {"bin\\nul.dll", "含有Windows不允许的字符或名称"},
      {"bin\\" + std::string(300, 'n') + ".dll", "中的文件名过长，补丁被拒绝"},
      {"b.dll", "补丁中文件b.dll的校验码不合法，补丁被拒绝", ""},
      {"b.dll", "补丁中文件b.dll的校验码1234567不合法，补丁被拒绝", "1234567"},
      {"b.dll", "校验码1234567G不合法", "1234567G"},
  };
  for (const Case& c : cases) {
    // MariaDB's text columns refuse bytes that are not UTF-8 themselves.
    if (GetParam() == Backend::kMariaDb && std::string(c.message).find("文字编码") != std::string::npos) continue;
    DatabaseHandle db = store();
    ovix::testing::addFileRecord(db.get(), key.c_str(), {c.key, "evil", "", 0, c.crc});
    ScopedRecorder recorder;
    EXPECT_FALSE(apply()) << c.message;
    EXPECT_THAT(recorder.messages, ElementsAre(HasSubstr(c.message)));
    EXPECT_EQ(install_.read("a.dll"), "") << "nothing may be written: " << c.message;
    EXPECT_EQ(setupValue("PATCH"), "<none>");
    ASSERT_EQ(db->exeSql(("delete from " + key + " where m_skey=?").c_str(), {KVData::text(c.key.c_str())}), 0);
  }
  EXPECT_FALSE(fs::exists(fs::path(install_.path()).parent_path() / "x"));
  EXPECT_TRUE(stagingFolders().empty());

  // A CRC in lower-case letters names the same bytes.
  std::string crc = ovix::testing::crcOf("bee");
  for (char& ch : crc) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  ovix::testing::addFileRecord(store().get(), key.c_str(), {"b.dll", "bee", "", 0, crc.c_str()});
  ScopedRecorder recorder;
  EXPECT_TRUE(apply()) << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(install_.read("b.dll"), "bee");
}

// A store that answers a second select differently (a view with a random
// key) never gets a key written that the check would refuse.
TEST_P(PatchApplicationTest, AStoreThatChangesItsAnswerNeverGetsAnUncheckedKeyWritten) {
  tree_.write("bin/a.dll", "new");
  std::string key = packAndUpload();
  const bool maria = GetParam() == Backend::kMariaDb;
  const std::string columns = " AS m_skey, m_crc, m_guid, m_version, m_stream FROM " + key + "_real";
  const std::string store = server_->storeDatabase();
  ASSERT_TRUE(server_->scratch().execute(store, (maria ? "RENAME TABLE " : "ALTER TABLE ") + key +
                                          (maria ? " TO " : " RENAME TO ") + key + "_real"));
  ASSERT_TRUE(server_->scratch().execute(
      store, "CREATE VIEW " + key + " AS SELECT " +
                 (maria ? "IF(m_skey = 'bin\\\\a.dll' AND RAND() < 0.5, '..\\\\out\\\\pwned', m_skey)"
                        : "CASE WHEN m_skey = 'bin\\a.dll' AND random() % 2 = 0 THEN '..\\out\\pwned' "
                          "ELSE m_skey END") +
                 columns));
  const fs::path outside = fs::path(install_.path()).parent_path() / "out";
  int refused = 0;
  for (int run = 0; run < 30; ++run) {
    writeSetup(kSetup);
    ScopedRecorder recorder;
    if (!apply()) ++refused;
    ASSERT_FALSE(fs::exists(outside / "pwned")) << "run " << run;
  }
  EXPECT_GT(refused, 0);
  EXPECT_LT(refused, 30);
}

// Nothing below the installation that is a link carries a write, a backup
// or a temporary file outside it.
TEST_P(PatchApplicationTest, LinksBelowTheInstallationNeverCarryAWriteOutside) {
  tree_.write("a.dll", "new a");
  tree_.write("bin/b.dll", "new b");
  std::string key = packAndUpload();
  TempDir outside;
  outside.write("victim", "victim");
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool applies;
    const char* message;  // a part of the one message when refused
  } cases[] = {
      {"folder link on a key's way", [&] { fs::create_directory_symlink(outside.path(), install_.file("bin")); },
       false, "补丁中的文件路径bin\\b.dll经过安装目录中的符号链接，补丁被拒绝"},
      {"backup folder link", [&] { fs::create_directory_symlink(outside.path(), install_.file("patch")); },
       false, "中建立补丁的临时目录"},
      {"link at the setup file's old temporary name",
       [&] { fs::create_symlink(outside.file("setup"), install_.file("ovixsetup.ini.tmp")); }, true, ""},
      {"file link at a key's place",
       [&] { fs::create_symlink(outside.file("victim"), install_.file("a.dll")); }, true, ""},
  };
  for (const Case& c : cases) {
    for (const auto& entry : fs::directory_iterator(install_.path())) {
      if (entry.path().filename() != "temp") fs::remove_all(entry.path());
    }
    writeSetup(kSetup);
    c.arrange();
    ScopedRecorder recorder;
    EXPECT_EQ(apply(), c.applies) << c.name << ::testing::PrintToString(recorder.messages);
    if (!c.applies) {
      EXPECT_THAT(recorder.messages, ElementsAre(HasSubstr(c.message))) << c.name;
    }
    EXPECT_EQ(namesIn(outside.path()), std::vector<std::string>{"victim"}) << c.name;
    EXPECT_EQ(outside.read("victim"), "victim") << c.name;
  }
  // The file link at a key's place was replaced by the file, and its backup
  // is the link itself.
  EXPECT_FALSE(fs::is_symlink(install_.file("a.dll")));
  EXPECT_EQ(install_.read("a.dll"), "new a");
  EXPECT_TRUE(fs::is_symlink(install_.file("patch/" + key + "/a.dll")));
  EXPECT_FALSE(fs::is_symlink(install_.file("ovixsetup.ini")));
}

// A failed package puts back what it replaced and takes away what it
// brought; a link comes back as a link, never as the bytes it points to.
TEST_P(PatchApplicationTest, AFailedPackageIsPutBackWholeAndLinksStayLinks) {
  tree_.write("a.dll", "new a");
  tree_.write("b.dll", "new b");
  tree_.write("c.dll", "new c");
  tree_.write("b2/deep/n.dll", "new n");  // walked before c.dll
  TempDir outside;
  outside.write("secret", "root only");
  fs::create_symlink(outside.file("secret"), install_.file("a.dll"));
  install_.write("b.dll", "old b");
  fs::create_symlink(outside.file("x"), install_.file("b.dll.restore"));  // the old fixed name
  install_.mkdir("c.dll/in-the-way");  // the third file cannot take its place
  packAndUpload();
  ScopedRecorder recorder;
  EXPECT_FALSE(apply());
  EXPECT_EQ(recorder.messages.back(), "补丁更新失败，已经恢复原始文件，请查看日志！");
  ASSERT_TRUE(fs::is_symlink(install_.file("a.dll")));
  EXPECT_EQ(fs::read_symlink(install_.file("a.dll")), outside.file("secret"));
  EXPECT_EQ(install_.read("b.dll"), "old b");
  EXPECT_FALSE(fs::exists(install_.file("b2")));  // made by the package, gone with it
  EXPECT_FALSE(fs::exists(outside.file("x")));
  EXPECT_EQ(outside.read("secret"), "root only");
  EXPECT_EQ(setupValue("PATCH"), "<none>");

  fs::remove_all(install_.file("c.dll"));  // the obstacle is gone: the same run succeeds
  EXPECT_TRUE(apply());
  EXPECT_EQ(install_.read("c.dll"), "new c");
  EXPECT_EQ(outside.read("secret"), "root only");
  EXPECT_FALSE(fs::exists(outside.file("x")));
}

// A header or a table that cannot serve as a package is refused with its
// own message only: nothing was touched, so nothing is said to be restored.
TEST_P(PatchApplicationTest, AnUnusableHeaderOrTableIsReportedWithItsOwnMessageOnly) {
  struct Case {
    const char* key;
    const char* table;
    const char* message;
  } cases[] = {
      {"A3A202612050000", "NoSuchTable", "无法从服务器上读入补丁数据，请查看服务器连接"},
      {"..\\..\\x", "A3A202612050000", "补丁..\\..\\x的包信息不合法，补丁被拒绝"},
      {"A3A202612050000", "x; drop table y", "补丁A3A202612050000的包信息不合法，补丁被拒绝"},
      {"A3A202612050001", "A3A202612050001", "补丁A3A202612050001的包信息不合法，补丁被拒绝"},
  };
  for (const Case& c : cases) {
    const bool injects = std::string(c.key).ends_with('1');
    // An installation without product name takes the header's name.
    install_.write("ovixsetup.ini", injects ? "[OVIX]\n" : kSetup);
    {
      DatabaseHandle db = storeWithHeaders();
      ASSERT_EQ(db->exeSql("delete from OVIXPackageInfo"), 0);
      // The last one names its product with a line that would add its own
      // keys to the setup file.
      addHeader(db.get(), c.key, "2026-12-05", false, nullptr, nullptr,
                injects ? "OVIX_TARNO\n[OVIX]\nPATCH=Z" : "OVIX_TARNO",
                c.table);
    }
    ScopedRecorder recorder;
    EXPECT_FALSE(apply());
    EXPECT_EQ(recorder.messages, std::vector<std::string>{c.message});
    EXPECT_FALSE(fs::exists(install_.file("patch/x")));
    EXPECT_EQ(setupValue("PATCH"), "<none>");
  }
}

// Two downloads into one installation run one after the other: the second
// finds the installation up to date, and every file is new.
TEST_P(PatchApplicationTest, TwoDownloadsAtOnceApplyThePatchExactlyOnce) {
  std::map<std::string, std::string> newFiles;
  for (int i = 0; i < 24; ++i) {
    std::string key = "d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".dll";
    newFiles[key] = std::string(3000 + i, static_cast<char>('a' + i));
    tree_.write(key, newFiles[key]);
  }
  std::string packageKey = packAndUpload("DLL");
  std::mt19937 random(7);
  for (int round = 0; round < 8; ++round) {
    fs::remove_all(install_.file("patch"));
    writeSetup(kSetup);
    for (const auto& [key, bytes] : newFiles) install_.write(key, "old " + key);
    pid_t children[2];
    for (pid_t& child : children) {
      int jitterMicros = static_cast<int>(random() % 20000);
      child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        usleep(static_cast<useconds_t>(jitterMicros));
        ScopedRecorder quiet;
        _exit(apply() ? 0 : 1);
      }
    }
    int succeeded = 0;
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status)) << "round " << round;
      if (WEXITSTATUS(status) == 0) ++succeeded;
    }
    EXPECT_EQ(succeeded, 1) << "round " << round;
    EXPECT_EQ(setupValue("PATCH"), packageKey);
    for (const auto& [key, bytes] : newFiles) {
      EXPECT_TRUE(install_.read(key) == bytes) << "round " << round << ": " << key;
      // Backed up once, from before the first change.
      EXPECT_EQ(install_.read("patch/" + packageKey + "/" + key), "old " + key) << key;
    }
    EXPECT_TRUE(stagingFolders().empty());
  }
}

// A run that completed leaves its backups marked: a later run of the same
// package backs up afresh, while a run that resumes an interrupted one
// keeps the first backups (the kill test shows that side).  An installation
// without product name takes the newest patch and records all it names.
TEST_P(PatchApplicationTest, ARunOfACompletedPackageStartsFreshBackups) {
  install_.write("ovixsetup.ini", "[Other]\nKEEP=1\n");
  tree_.write("a.dll", "new a");
  install_.write("a.dll", "first");
  std::string key = packAndUpload("DLL");
  ScopedRecorder recorder;
  ASSERT_TRUE(apply());
  EXPECT_EQ(install_.read("patch/" + key + "/a.dll"), "first");
  const std::map<std::string, std::string> recorded = {
      {"NAME", "OVIX_TARNO"}, {"VERSION", "V3"}, {"BUILDTIME", "2020-01-01"},
      {"KERNELTIME", "2026-01-01"}, {"PATCH", key}};
  for (const auto& [name, value] : recorded) EXPECT_EQ(setupValue(name.c_str()), value) << name;
  EXPECT_NE(install_.read("ovixsetup.ini").find("KEEP=1"), std::string::npos);
  // The installation is set back by hand and the package runs again.
  writeSetup(kSetup);
  install_.write("a.dll", "second");
  ASSERT_TRUE(apply());
  EXPECT_EQ(install_.read("patch/" + key + "/a.dll"), "second");
  EXPECT_EQ(install_.read("a.dll"), "new a");
}

TEST_P(PatchApplicationTest, BytesThatDoNotMatchTheirCrcChangeNothing) {
  tree_.write("a.dll", "good");
  tree_.write("b.dll", std::string(3 << 20, 'b'));  // large: streamed from a server's row
  install_.write("a.dll", "old");
  std::string key = packAndUpload();
  DatabaseHandle db = store();
  ASSERT_EQ(db->exeSql(("update " + key + " set m_crc=? where m_skey=?").c_str(),
                       {KVData::text("00000000"), KVData::text("b.dll")}),
            0);
  ScopedRecorder recorder;
  EXPECT_FALSE(apply());
  EXPECT_EQ(install_.read("a.dll"), "old");
  EXPECT_FALSE(fs::exists(install_.file("b.dll")));
  EXPECT_EQ(setupValue("PATCH"), "<none>");
}

// The download counts its files on the progress display; a cancel there
// comes before the installation is touched.
TEST_P(PatchApplicationTest, ACancelledDownloadLeavesTheInstallationAsItWas) {
  tree_.write("a.dll", "new a");
  tree_.write("b.dll", "new b");
  install_.write("a.dll", "old a");
  std::string key = packAndUpload();
  ScopedRecorder recorder;
  recorder.cancelAt = 1;
  EXPECT_FALSE(apply());
  // Three records: the two files and the setup file.
  EXPECT_EQ(recorder.steps, (std::vector<std::string>{"下载补丁 0/3", "下载补丁 1/3", "下载补丁 3/3"}));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"已取消下载补丁，安装目录没有任何改动"});
  EXPECT_EQ(install_.read("a.dll"), "old a");
  EXPECT_FALSE(fs::exists(install_.file("b.dll")));
  EXPECT_TRUE(stagingFolders().empty());
  EXPECT_EQ(setupValue("PATCH"), "<none>");
}

TEST_P(PatchApplicationTest, AMissingStoreIsReportedAndNeverCreated) {
  ScopedRecorder recorder;
  EXPECT_FALSE(apply());
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].rfind("版本补丁数据库不存在:", 0), 0u);
  EXPECT_FALSE(check());
  std::string error;
  EXPECT_FALSE(zddb::openServer(address(), port(), &error)->databaseExists(server_->storeDatabase()));
  EXPECT_FALSE(ovix::openPatchStoreAndApply(env_, nullptr, "a", "1"));
}

// Kills its own process just before the Nth change to the file system.
class KillingEnv : public ovix::EnvWrapper {
 public:
  explicit KillingEnv(int killAt) : EnvWrapper(ovix::Env::Default()), killAt_(killAt) {}
  bool newWritableFile(const std::string& p, ovix::WriteMode m,
                       std::unique_ptr<ovix::WritableFile>* r) override {
    return step(), EnvWrapper::newWritableFile(p, m, r);
  }
  bool renameFile(const std::string& from, const std::string& to) override {
    return step(), EnvWrapper::renameFile(from, to);
  }
  bool openTree(const std::string& root, std::unique_ptr<ovix::DirectoryTree>* result) override {
    std::unique_ptr<ovix::DirectoryTree> real;
    if (!EnvWrapper::openTree(root, &real)) return false;
    *result = std::make_unique<Tree>(std::move(real), this);
    return true;
  }

 private:
  using Wrapper = ovix::DirectoryTreeWrapper;
  using Path = const std::string&;
  class Tree : public Wrapper {
   public:
    Tree(std::unique_ptr<ovix::DirectoryTree> real, KillingEnv* env) : Wrapper(std::move(real)), env_(env) {}
    bool createFile(Path p, std::unique_ptr<ovix::WritableFile>* r) override {
      return env_->step(), Wrapper::createFile(p, r);
    }
    bool createDirectories(Path p, std::vector<std::string>* made) override {
      return env_->step(), Wrapper::createDirectories(p, made);
    }
    bool rename(Path a, Path b) override { return env_->step(), Wrapper::rename(a, b); }
    bool hardLink(Path a, Path b) override { return env_->step(), Wrapper::hardLink(a, b); }
    bool removeFile(Path p) override { return env_->step(), Wrapper::removeFile(p); }
    bool removeTree(Path p) override { return env_->step(), Wrapper::removeTree(p); }

   private:
    KillingEnv* env_;
  };

  void step() {  // kills on the Nth call
    if (++count_ == killAt_) raise(SIGKILL);
  }
  int killAt_;
  int count_ = 0;
};

TEST_P(PatchApplicationTest, AnApplyKilledAtAnyMomentLeavesEveryFileWholeAndRunsAgain) {
  std::map<std::string, std::string> oldFiles, newFiles;
  for (int i = 0; i < 12; ++i) {
    std::string key = "d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".dll";
    newFiles[key] = std::string(20000 + i * 1000, static_cast<char>('a' + i % 26));
    tree_.write(key, newFiles[key]);
    if (i % 4 == 0) continue;  // some files are new to the installation
    oldFiles[key] = "old " + key;
    install_.write(key, oldFiles[key]);
  }
  std::string packageKey = packAndUpload("DLL");
  ASSERT_FALSE(packageKey.empty());
  // A link at one file's place leads outside: no kill may leave a write
  // there.
  TempDir outside;
  outside.write("victim", "victim");
  fs::remove(install_.file("d1/f1.dll"));
  fs::create_symlink(outside.file("victim"), install_.file("d1/f1.dll"));
  oldFiles["d1/f1.dll"] = "victim";

  auto checkEveryFile = [&](int point) {
    EXPECT_EQ(namesIn(outside.path()), std::vector<std::string>{"victim"}) << "killed at " << point;
    EXPECT_EQ(outside.read("victim"), "victim") << "killed at " << point;
    for (const auto& [key, bytes] : newFiles) {
      std::string now = install_.read(key);
      bool whole = now == bytes || (oldFiles.count(key) ? now == oldFiles[key]
                                                        : !fs::exists(install_.file(key)));
      EXPECT_TRUE(whole) << "killed at " << point << ": " << key << " holds " << now.size() << " bytes";
      std::string backup = "patch/" + packageKey + "/" + key;
      if (fs::exists(install_.file(backup))) {
        EXPECT_EQ(install_.read(backup), oldFiles[key]) << "killed at " << point;
      }
    }
    std::string patch = setupValue("PATCH");
    EXPECT_TRUE(patch == "<none>" || patch == packageKey) << "killed at " << point;
  };

  // A child applies and dies just before its Nth file-system change, for
  // every N until a child gets through; each child resumes what the earlier
  // ones left.
  int point = 1;
  for (; point < 500; ++point) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      KillingEnv env(point);
      ScopedRecorder quiet;
      bool ok = ovix::openPatchStoreAndApply(env, install_.path().c_str(), address(), port());
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    checkEveryFile(point);
    if (!WIFSIGNALED(status)) break;  // this child got through
  }
  EXPECT_GE(point, 10) << "the kills did not land inside the apply";
  EXPECT_EQ(setupValue("PATCH"), packageKey);
  for (const auto& [key, bytes] : newFiles) EXPECT_TRUE(install_.read(key) == bytes) << key;
  for (const auto& [key, bytes] : oldFiles)
    EXPECT_EQ(install_.read("patch/" + packageKey + "/" + key), bytes) << "backup of " << key;
}

OVIX_SERVER_TEST_BACKENDS(PatchApplicationTest);

}  // namespace
