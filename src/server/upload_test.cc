// Uploads on both server backends: what reaches the store, what is refused,
// and that a failed upload leaves nothing.

#include "server/upload.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/ini_file.h"
#include "app/working_files.h"
#include "jobs/server_commit.h"
#include "package/file_record_upload.h"
#include "package/package_file.h"
#include "package/server_connection.h"
#include "package/sqlite_connection.h"
#include "platform/crc.h"
#include "platform/program_paths.h"
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/server_backends.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::Backend;
using ovix::testing::ScratchServer;
using ovix::testing::TempDir;

struct FileSpec {
  std::string key;
  std::string bytes;
  std::string dbkey;
  int version = 0;
  const char* crc = nullptr;  // the bytes' own CRC unless given
};

struct StoredRow {
  std::string crc, guid, bytes;
  int version = 0;
};

class UploadTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    registerRecordClasses();
    ZedaSystem::setProjectDbtype(2);
    ovix::fillProgramPaths(program_.file("ovixpatch"), std::nullopt);
    server_ = std::make_unique<ScratchServer>(GetParam());
    OVIX_REQUIRE_SERVER(*server_);
    prefix_ = server_->useNamespace();
    ASSERT_TRUE(server_->execute(prefix_ + "ovixgeneral",
                                 "CREATE TABLE ZedaUser (m_user VARCHAR(64), m_pwd VARCHAR(64))"));
    ASSERT_TRUE(server_->execute(prefix_ + "ovixgeneral",
                                 "INSERT INTO ZedaUser VALUES ('system', 'Pa55')"));
  }

  // Writes a package into the program directory.
  std::string makePackage(const std::string& file, const char* key, const char* type,
                          const char* packTime, const std::vector<FileSpec>& files,
                          const char* refTable = "") {
    std::string path = program_.file(file);
    DatabaseHandle db(ovix::openPackageFile(path.c_str()));
    EXPECT_NE(db, nullptr);
    ovix::createClassTable(db->getFilter(0), "OVIXFileRecord", OVIXFileRecord::desc());
    ovix::createClassTable(db->getFilter(0), "OVIXPackageInfo", OVIXPackageInfo::desc());
    if (key != nullptr) {
      OVIXPackageInfo header;
      header.setSkey(key);
      header.setType(type);
      header.setPackTime(packTime);
      header.setRefTblname(refTable == nullptr ? nullptr : *refTable ? refTable : key);
      header.setGuid(ovix::newGuidText().c_str());
      EXPECT_EQ(ovix::writeRecord(db.get(), "OVIXPackageInfo", &header, 1), 0);
    }
    for (const FileSpec& f : files) {
      OVIXFileRecord record;
      record.setSkey(f.key.c_str());
      record.setCrc(f.crc != nullptr ? f.crc
                                     : crc::crc32_text(crc::crc32_update(0, f.bytes.data(),
                                                                         f.bytes.size()))
                                           .c_str());
      if (!f.dbkey.empty()) record.setDbkey(f.dbkey.c_str());
      record.setVersion(f.version);
      record.setStream(f.bytes.data(), static_cast<int32_t>(f.bytes.size()));
      EXPECT_EQ(ovix::writeRecord(db.get(), "OVIXFileRecord", &record, 1), 0);
    }
    return path;
  }

  bool upload(const std::string& path) {
    return ovix::uploadPackage(env_, path, server_->address().c_str(), server_->port().c_str());
  }

  DatabaseHandle store() {
    std::string text = server_->connectionText(prefix_ + "ovixinstallpatch");
    DatabaseHandle db(mallocDatabase(2));
    if (db->pureOpenDB_2(text.c_str(), 1, nullptr) != 0) return nullptr;
    return db;
  }

  std::map<std::string, StoredRow> rows(const std::string& table) {
    std::map<std::string, StoredRow> out;
    DatabaseHandle db = store();
    if (!db) return out;
    std::vector<std::unique_ptr<ZdDbObject>> objects;
    std::string sql = "select * from " + table;
    db->selectSql(sql.c_str(), OVIXFileRecord::desc(), objects, 0);
    for (auto& o : objects) {
      auto* r = OVIXFileRecord::cast(o.get());
      out[r->skey()] = {r->crc() ? r->crc() : "", r->guid() ? r->guid() : "",
                        std::string(reinterpret_cast<char*>(r->stream().data), r->stream().size),
                        r->version()};
    }
    return out;
  }

  ovix::Env& env_ = *ovix::Env::Default();
  TempDir program_;
  std::unique_ptr<ScratchServer> server_;
  std::string prefix_;
};

const std::vector<FileSpec> kFiles = {
    {"bin\\a.dll", std::string("\0\1\2\3", 4), "", 0},
    {"bin\\中文 'q' 100%.xml", "<x/>", "", 0},
    {"Case.txt", "upper", "", 0},
    {"case.txt", "lower", "", 2},
    {"empty.ini", "", "", 0},
    {"big.bin", std::string(3 << 20, 'b'), "", 0},  // streamed, not batched
};

TEST_P(UploadTest, TheStoreHoldsTheRecordsByteForByteWithNewVersionsAndGuids) {
  std::string path = makePackage("p.package", "A3A202612040905", "DLL", "2026-12-04-09-05", kFiles);
  ovix::testing::ScopedRecorder recorder;
  ASSERT_TRUE(upload(path)) << ::testing::PrintToString(recorder.messages);
  EXPECT_TRUE(recorder.messages.empty());
  auto stored = rows("A3A202612040905");
  ASSERT_EQ(stored.size(), kFiles.size());
  std::set<std::string> guids;
  for (const FileSpec& f : kFiles) {
    ASSERT_EQ(stored.count(f.key), 1u) << f.key;
    const StoredRow& row = stored[f.key];
    EXPECT_EQ(row.bytes, f.bytes) << f.key;
    EXPECT_EQ(row.crc, crc::crc32_text(crc::crc32_update(0, f.bytes.data(), f.bytes.size())));
    EXPECT_EQ(row.version, f.version + 1) << f.key;
    EXPECT_EQ(row.guid.size(), 38u);
    guids.insert(row.guid);
  }
  EXPECT_EQ(guids.size(), kFiles.size());

  DatabaseHandle db = store();
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  ASSERT_EQ(db->selectSql("select * from OVIXPackageInfo", OVIXPackageInfo::desc(), headers, 0), 0);
  EXPECT_STREQ(OVIXPackageInfo::cast(headers[0].get())->skey(), "A3A202612040905");

  // The same package again is refused and counts as done.
  EXPECT_TRUE(upload(path));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"该补丁已经上传过服务器，无法再传"});
  EXPECT_EQ(rows("A3A202612040905").size(), kFiles.size());
}

TEST_P(UploadTest, RecordsAlreadyThereKeepTheirGuidAndGetTheServersVersionPlusOne) {
  // A table as an earlier upload left it (the project table works this way).
  std::string path = makePackage("p.package", "A3A202612040905", "DLL", "2026-12-04-09-05",
                                 {{"k\\one.dll", "new bytes", "", 0}, {"k\\two.dll", "fresh", "", 0}});
  DatabaseHandle package(ovix::openPackageFile(path.c_str()));
  std::vector<std::string> list;
  ovix::makeServerParams(list, server_->address().c_str(), server_->port().c_str(), nullptr);
  DatabaseHandle target(ovix::openOrCreatePatchStore(list));
  ASSERT_NE(target, nullptr);
  ASSERT_EQ(ovix::createClassTable(target->getFilter(0), "ZedaConfigServer", OVIXFileRecord::desc()), 0);
  OVIXFileRecord old;
  old.setSkey("k\\one.dll");
  old.setGuid("{OLD}");
  old.setVersion(3);
  old.setStream("old", 3);
  ASSERT_EQ(ovix::writeRecord(target.get(), "ZedaConfigServer", &old, 1), 0);

  ASSERT_TRUE(ovix::uploadFileRecords(env_, package.get(), target.get(), "ZedaConfigServer",
                                      "OVIXFileRecord"));
  auto stored = rows("ZedaConfigServer");
  EXPECT_EQ(stored["k\\one.dll"].version, 4);
  EXPECT_EQ(stored["k\\one.dll"].guid, "{OLD}");
  EXPECT_EQ(stored["k\\one.dll"].bytes, "new bytes");
  EXPECT_EQ(stored["k\\two.dll"].version, 1);
  EXPECT_NE(stored["k\\two.dll"].guid, "{OLD}");
}

TEST_P(UploadTest, DatabaseRecordsListedInTheMapAreCopiedInWhole) {
  std::string config = program_.file("spec.db");
  {
    std::string error;
    auto db = zddb::openSqliteConnection(config, zddb::OpenMode::kCreate, &error);
    ASSERT_TRUE(db->execute("CREATE TABLE PipeSpec (m_skey TEXT PRIMARY KEY, size INTEGER);"
                            "INSERT INTO PipeSpec VALUES ('DN50', 50);"));
  }
  std::string bytes = program_.read("spec.db");
  std::string path = makePackage("p.package", "B1B202612040905", "CONFIG", "2026-12-04-09-05",
                                 {{"cfg\\spec.db", bytes, "cfg\\spec.db", 0},
                                  {"cfg\\other.db", bytes, "cfg\\other.db", 0}});
  ASSERT_TRUE(server_->execute(prefix_ + "ovixinstallpatch", "CREATE TABLE dbnamemap (dbkey VARCHAR(200))"));
  // A backslash in a literal is an escape on MariaDB, a plain character on SQLite.
  std::string literal = GetParam() == Backend::kMariaDb ? "'cfg\\\\spec.db'" : "'cfg\\spec.db'";
  ASSERT_TRUE(server_->execute(prefix_ + "ovixinstallpatch",
                               "INSERT INTO dbnamemap VALUES (" + literal + ")"));
  ovix::testing::ScopedRecorder recorder;
  ASSERT_TRUE(upload(path)) << ::testing::PrintToString(recorder.messages);
  DatabaseHandle db = store();
  EXPECT_EQ(db->pureSql("select * from PipeSpec where m_skey=?", {KVData::text("DN50")}), 0);
  auto stored = rows("B1B202612040905");
  EXPECT_EQ(stored.count("cfg\\spec.db"), 0u);   // copied in as a database
  EXPECT_EQ(stored.count("cfg\\other.db"), 1u);  // not listed: an ordinary row
}

TEST_P(UploadTest, BadPackagesAreRefusedAndLeaveNothing) {
  struct Case {
    const char* name;
    const char* key;
    const char* refTable;
    std::vector<FileSpec> files;
    const char* message;
  };
  const std::vector<FileSpec> good = {{"a.dll", "x", "", 0}};
  const Case cases[] = {
      {"no header", nullptr, "", good, "上传的版本数据包中无版本信息记录"},
      {"no reference table", "A3A202612040905", nullptr, good, "上传的版本数据包有错，无参考表数据"},
      {"reference table not plain", "A3A202612040905", "x`; DROP TABLE y; --", good,
       "上传的版本数据包有错，参考表名x`; DROP TABLE y; --不合法"},
      {"package key not a key", "../x", "A3A202612040905", good,
       "上传的版本数据包有错，补丁编码../x不合法"},
      // What any workstation would refuse never reaches the server.
      {"key leaves the folder", "A3A202612040905", "", {{"..\\x.dll", "x", "", 0}},
       "上传的版本数据包中文件路径..\\x.dll不在安装目录之内，工作站不能安装，上传被拒绝"},
      {"control character", "A3A202612040905", "", {{"a\nb.dll", "x", "", 0}},
       "上传的版本数据包中文件路径a\\x0Ab.dll含有控制字符，工作站不能安装，上传被拒绝"},
      {"invalid text", "A3A202612040905", "", {{"\xff.dll", "x", "", 0}},
       "上传的版本数据包中文件路径\\xFF.dll不是有效的文字编码，工作站不能安装，上传被拒绝"},
      {"malformed CRC", "A3A202612040905", "", {{"a.dll", "x", "", 0, "C1"}},
       "上传的版本数据包中文件a.dll的校验码C1不合法，上传被拒绝"},
      {"empty CRC", "A3A202612040905", "", {{"a.dll", "x", "", 0, ""}},
       "上传的版本数据包中文件a.dll的校验码不合法，上传被拒绝"},
  };
  for (const Case& c : cases) {
    std::string path = makePackage(std::string(c.name) + ".package", c.key, "DLL",
                                   "2026-12-04-09-05", c.files, c.refTable);
    ovix::testing::ScopedRecorder recorder;
    EXPECT_FALSE(upload(path)) << c.name;
    EXPECT_EQ(recorder.messages, std::vector<std::string>{c.message}) << c.name;
    DatabaseHandle db = store();
    ASSERT_NE(db, nullptr);
    EXPECT_FALSE(db->connection()->tableExists("OVIXPackageInfo")) << c.name;
  }
  // File records that cannot be read at all.
  std::string path = makePackage("norecords.package", "A3A202612040905", "DLL",
                                 "2026-12-04-09-05", good);
  {
    DatabaseHandle db(ovix::openPackageFile(path.c_str()));
    ASSERT_EQ(db->exeSql("DROP TABLE OVIXFileRecord"), 0);
  }
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(upload(path));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"上传的版本数据包中无数据"});
}

TEST_P(UploadTest, AFailedUploadShowsNothingAndCanBeRunAgain) {
  std::string path = makePackage("p.package", "A3A202612040905", "DLL", "2026-12-04-09-05", kFiles);
  // A table that refuses the rows makes the upload fail after the header.
  const std::string store = prefix_ + "ovixinstallpatch";
  ASSERT_TRUE(server_->execute(store,
                               "CREATE TABLE A3A202612040905 (m_skey VARCHAR(200) PRIMARY KEY, "
                               "m_crc VARCHAR(32), m_guid VARCHAR(64), "
                               "m_version INTEGER CHECK (m_version < 1), m_stream LONGBLOB)"));
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(upload(path));
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].rfind("上传失败，服务器上没有留下这个补丁的任何数据：", 0), 0u);
  DatabaseHandle db = this->store();
  EXPECT_NE(db->pureSql("select * from OVIXPackageInfo"), 0);  // no header without its files
  EXPECT_TRUE(rows("A3A202612040905").empty());

  ASSERT_EQ(db->exeSql("DROP TABLE A3A202612040905"), 0);
  EXPECT_TRUE(upload(path));
  EXPECT_EQ(rows("A3A202612040905").size(), kFiles.size());
}

// The upload counts its records on the progress display; cancelling there
// leaves the store as it was.
TEST_P(UploadTest, ACancelledUploadLeavesNothing) {
  struct CancellingRecorder : ovix::testing::ScopedRecorder {
    bool progress(const std::string& what, uint64_t done, uint64_t total) override {
      steps.push_back(what + " " + std::to_string(done) + "/" + std::to_string(total));
      return done < 2;
    }
    std::vector<std::string> steps;
  };
  std::string path = makePackage("p.package", "A3A202612040905", "DLL", "2026-12-04-09-05", kFiles);
  CancellingRecorder recorder;
  EXPECT_FALSE(upload(path));
  const std::string total = std::to_string(kFiles.size());
  EXPECT_EQ(recorder.steps, (std::vector<std::string>{"上传 0/" + total, "上传 1/" + total,
                                                      "上传 2/" + total,
                                                      "上传 " + total + "/" + total}));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{
                                   "上传失败，服务器上没有留下这个补丁的任何数据：用户取消了上传"});
  DatabaseHandle db = store();
  EXPECT_NE(db->pureSql("select * from OVIXPackageInfo"), 0);
  EXPECT_TRUE(rows("A3A202612040905").empty());
}

TEST_P(UploadTest, TheNewestPackageOfTheKindIsChosen) {
  makePackage("old.package", "A3A202612010000", "DLL", "2026-12-01-00-00", kFiles);
  makePackage("new.package", "A3A202612040905", "DLL", "2026-12-04-09-05", kFiles);
  makePackage("project.package", "B3B202612050000", "CONFIG", "2026-12-05-00-00", kFiles);
  makePackage("notime.package", "A3A209912310000", "DLL", "", kFiles);
  program_.write("broken.package", "not a database");
  program_.write("sub/newer.package", "");
  ovix::testing::ScopedRecorder recorder;
  EXPECT_EQ(ovix::findLocalPackage(env_, "DLL"), program_.file("new.package"));
  EXPECT_EQ(ovix::findLocalPackage(env_, "CONFIG"), program_.file("project.package"));
  EXPECT_EQ(ovix::findLocalPackage(env_, "INSTALL"), "");
  EXPECT_EQ(ovix::findLocalPackage(env_, ""), "");
  EXPECT_EQ(recorder.messages,
            (std::vector<std::string>{"当前程序运行目录下，未找到类型为INSTALL的package",
                                      "程序错误，未指定补丁类型"}));
}

TEST_P(UploadTest, TheDialogChecksThePasswordAndRemembersTheServer) {
  makePackage("p.package", "A3A202612040905", "DLL", "2026-12-04-09-05", kFiles);
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(ovix::serverCommitOk(env_, "pa55", server_->address(), server_->port(), "DLL"));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"用户名和密码不对"});
  EXPECT_FALSE(env_.fileExists(ovix::uploadIniPath()));

  EXPECT_TRUE(ovix::serverCommitOk(env_, "Pa55", server_->address(), server_->port(), "DLL"));
  EXPECT_EQ(recorder.messages.back(), "上传完成");
  ovix::ServerAddress remembered = ovix::loadRememberedServer(env_);
  EXPECT_EQ(remembered.address, server_->address());
  EXPECT_EQ(remembered.port, server_->port());
  EXPECT_NE(program_.read("ovixpatch_upload.ini").rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_EQ(rows("A3A202612040905").size(), kFiles.size());
}

INSTANTIATE_TEST_SUITE_P(Backends, UploadTest, ::testing::ValuesIn(ovix::testing::allServerBackends()),
                         [](const auto& info) { return ovix::testing::backendName(info.param); });

}  // namespace
