// Package databases on every backend: a package file, the embedded store and
// the private MariaDB.

#include "package/package_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <set>

#include "package/sqlite_connection.h"
#include "platform/command_log.h"
#include "platform/program_paths.h"
#include "testing/recording_presenter.h"
#include "testing/server_backends.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::Backend;
using ovix::testing::ScratchServer;
using ovix::testing::TempDir;

enum class Target { kPackageFile, kEmbedded, kMariaDb };

// Collects a streamed value and the largest piece it came in.
struct StringSink : zddb::BlobSink {
  bool write(const char* data, size_t n) override {
    largest = std::max(largest, n);
    bytes.append(data, n);
    return true;
  }
  std::string bytes;
  size_t largest = 0;
};

class PackageDbTest : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    registerRecordClasses();
    ovix::fillProgramPaths(dir_.file("ovixpatch"), std::nullopt);
    if (GetParam() == Target::kPackageFile) {
      db_.reset(ovix::openPackageFile(dir_.file("test.package").c_str()));
      ASSERT_NE(db_, nullptr);
      return;
    }
    server_ = std::make_unique<ScratchServer>(GetParam() == Target::kEmbedded ? Backend::kEmbedded
                                                                               : Backend::kMariaDb);
    OVIX_REQUIRE_SERVER(*server_);
    std::string name = server_->createDatabase("pkgtest");
    db_.reset(mallocDatabase(2));
    db_->setOpenFlag(16);
    ASSERT_EQ(db_->pureOpenDB_2(server_->connectionText(name).c_str(), 1, nullptr), 0)
        << db_->lastError();
  }

  void makeTables() {
    ZdDbFilter* filter = db_->getFilter(0);
    ASSERT_EQ(ovix::createClassTable(filter, "OVIXFileRecord", OVIXFileRecord::desc()), 0)
        << db_->lastError();
    ASSERT_EQ(ovix::createClassTable(filter, "OVIXPackageInfo", OVIXPackageInfo::desc()), 0)
        << db_->lastError();
  }

  int writeFile(const std::string& key, const std::string& bytes) {
    OVIXFileRecord record;
    record.setSkey(key.c_str());
    record.setCrc("0000ABCD");
    record.setGuid("{G}");
    record.setDbkey("db\\key");
    record.setVersion(3);
    record.setStream(bytes.data(), static_cast<int32_t>(bytes.size()));
    return ovix::writeRecord(db_.get(), "OVIXFileRecord", &record, 1);
  }

  std::vector<std::unique_ptr<ZdDbObject>> selectFiles() {
    std::vector<std::unique_ptr<ZdDbObject>> rows;
    db_->selectSql("select * from OVIXFileRecord", OVIXFileRecord::desc(), rows, 0);
    return rows;
  }

  TempDir dir_;
  std::unique_ptr<ScratchServer> server_;
  DatabaseHandle db_;
};

TEST_P(PackageDbTest, HeaderAndFileRecordsRoundTrip) {
  makeTables();
  OVIXPackageInfo header;
  header.setSkey("ABC202612040905");
  header.setGuid(ovix::newGuidText().c_str());
  header.setPackTime("2026-12-04-09-05");
  header.setProjGuid("");
  header.setForce(1);
  ASSERT_EQ(ovix::writeRecord(db_.get(), "OVIXPackageInfo", &header, 1), 0) << db_->lastError();
  ASSERT_EQ(writeFile("bin\\a.dll", std::string("\0\1\2binary", 9)), 0) << db_->lastError();

  std::vector<std::unique_ptr<ZdDbObject>> headers;
  ASSERT_EQ(db_->selectSql("select * from OVIXPackageInfo", OVIXPackageInfo::desc(), headers, 0), 0);
  ASSERT_EQ(headers.size(), 1u);
  auto* back = OVIXPackageInfo::cast(headers[0].get());
  EXPECT_STREQ(back->skey(), "ABC202612040905");
  EXPECT_STREQ(back->packTime(), "2026-12-04-09-05");
  EXPECT_STREQ(back->guid(), header.guid());
  EXPECT_STREQ(back->projGuid(), "");     // empty stays empty
  EXPECT_EQ(back->projId(), nullptr);     // absent stays absent
  EXPECT_EQ(back->dependGuid(), nullptr);
  EXPECT_TRUE(back->force());
  EXPECT_FALSE(back->depend());

  auto files = selectFiles();
  ASSERT_EQ(files.size(), 1u);
  auto* file = OVIXFileRecord::cast(files[0].get());
  EXPECT_STREQ(file->skey(), "bin\\a.dll");
  EXPECT_STREQ(file->crc(), "0000ABCD");
  EXPECT_STREQ(file->guid(), "{G}");
  EXPECT_EQ(file->version(), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(file->stream().data), file->stream().size),
            std::string("\0\1\2binary", 9));
  if (GetParam() == Target::kPackageFile) {
    EXPECT_STREQ(file->dbkey(), "db\\key");
  } else {
    std::vector<std::string> columns;
    db_->connection()->listColumns("OVIXFileRecord", &columns);
    EXPECT_EQ(std::count(columns.begin(), columns.end(), "m_dbkey"), 0);
  }
}

// Keys that would break a query built from text, and an update that finds
// each by its key and leaves the GUID when told to.
TEST_P(PackageDbTest, KeysRoundTripByteForByteAndUpdatesFindThem) {
  makeTables();
  const std::vector<std::string> keys = {
      "\\leading\\backslash.dll", "sub\\dir\\file.txt", "it's \"quoted\"", "100% _x_",
      "with space", "中文\\路径\\配置.ini", "x'; DROP TABLE OVIXFileRecord; --", "Case.txt",
      "case.txt", "SELECT * FROM t"};
  for (const std::string& key : keys) ASSERT_EQ(writeFile(key, key), 0) << key << db_->lastError();
  for (const std::string& key : keys) {
    OVIXFileRecord record;
    record.setSkey(key.c_str());
    record.setCrc("FFFFFFFF");
    record.setVersion(9);
    record.setWriteGuid(0);
    record.setStream("new", 3);
    ASSERT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", &record, 2), 0) << key;
  }
  std::set<std::string> back;
  for (auto& row : selectFiles()) {
    auto* file = OVIXFileRecord::cast(row.get());
    back.insert(file->skey());
    EXPECT_EQ(file->version(), 9) << file->skey();
    EXPECT_STREQ(file->guid(), "{G}") << file->skey();
    EXPECT_STREQ(file->crc(), "FFFFFFFF") << file->skey();
  }
  EXPECT_EQ(back, std::set<std::string>(keys.begin(), keys.end()));
}

TEST_P(PackageDbTest, ARecordWithoutKeyOrWithATakenKeyIsNeverInserted) {
  makeTables();
  OVIXFileRecord keyless;
  keyless.setCrc("1");
  EXPECT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", &keyless, 1), 1);
  keyless.setSkey("");
  EXPECT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", &keyless, 1), 1);
  EXPECT_EQ(ovix::writeRecord(nullptr, "OVIXFileRecord", &keyless, 1), 1);
  EXPECT_TRUE(selectFiles().empty());
  ASSERT_EQ(writeFile("k", "1"), 0);
  EXPECT_EQ(writeFile("k", "2"), 1);
}

TEST_P(PackageDbTest, SelectsSucceedOnlyWhenARowComesBack) {
  makeTables();
  std::vector<std::vector<KVParams>> rows;
  std::vector<KVParams> columns = {ovix::makeColumnParam("m_crc"), ovix::makeColumnParam("m_version")};
  EXPECT_NE(db_->selectSql("select m_crc, m_version from OVIXFileRecord", columns, rows), 0);
  EXPECT_NE(db_->pureSql("select * from OVIXFileRecord"), 0);
  EXPECT_NE(db_->pureSql("select * from NoSuchTable"), 0);
  std::vector<std::unique_ptr<ZdDbObject>> none;
  EXPECT_NE(db_->selectSql("select * from OVIXFileRecord", OVIXFileRecord::desc(), none, 0), 0);

  ASSERT_EQ(writeFile("a", "x"), 0);
  EXPECT_EQ(db_->pureSql("select * from OVIXFileRecord where m_skey=?", {KVData::text("a")}), 0);
  EXPECT_NE(db_->pureSql("select * from OVIXFileRecord where m_skey=?", {KVData::text("A")}), 0);
  columns.push_back(ovix::makeIntParam("m_version", "", 0));
  ASSERT_EQ(db_->selectSql("select m_crc, m_version from OVIXFileRecord", columns, rows), 0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_STREQ(ovix::rowText(rows[0][0]), "0000ABCD");
  EXPECT_STREQ(ovix::rowText(rows[0][1]), "3");  // asked for as text
  EXPECT_EQ(rows[0][2].value.type(), KVData::kInt);
  EXPECT_EQ(ovix::rowText(rows[0][2]), nullptr);
}

TEST_P(PackageDbTest, NewestHeaderIsTheFirstOfCloseOnesAndSkipsDependents) {
  makeTables();
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  {
    ovix::testing::ScopedRecorder recorder;
    EXPECT_EQ(ovix::selectNewestHeader(db_.get(), headers), nullptr);
    EXPECT_EQ(recorder.messages, std::vector<std::string>{"版本服务器中无版本信息记录"});
  }
  struct Row {
    const char* key;
    const char* packTime;
    bool depend;
  };
  for (const Row& r : {Row{"A1", "2026-12-04-09-00", false},
                       {"A2", "2026-12-04 09:00:30", false},  // 30 s after A1: A1 stays best
                       {"A3", "2026-12-04-10-00", true},      // depends on another: skipped
                       {"A4", "2026-12-04-09-30", false}}) {  // newest independent one
    OVIXPackageInfo header;
    header.setSkey(r.key);
    header.setPackTime(r.packTime);
    header.setDepend(r.depend);
    ASSERT_EQ(ovix::writeRecord(db_.get(), "OVIXPackageInfo", &header, 1), 0);
  }
  OVIXPackageInfo* best = ovix::selectNewestHeader(db_.get(), headers);
  ASSERT_NE(best, nullptr);
  EXPECT_STREQ(best->skey(), "A4");
  EXPECT_EQ(headers.size(), 4u);
}

// Rows are read without their bytes, which are then streamed in slices.
TEST_P(PackageDbTest, LargeStreamsTravelInChunks) {
  makeTables();
  std::string bytes(20 * 1024 * 1024 + 123, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  OVIXFileRecord record, empty;
  record.setSkey("big.bin");
  ASSERT_TRUE(record.setStreamFile(*ovix::Env::Default(), dir_.write("big.bin", bytes)));
  EXPECT_EQ(record.streamSize(), static_cast<int64_t>(bytes.size()));
  ASSERT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", &record, 1), 0) << db_->lastError();
  empty.setSkey("empty.bin");
  ASSERT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", &empty, 1), 0) << db_->lastError();

  std::vector<std::string> keys;
  ASSERT_EQ(db_->selectEach("select m_skey, m_crc, m_guid, m_version from OVIXFileRecord",
                            OVIXFileRecord::desc(), ZdDbFilter::BlobReading::kDefer,
                            [&keys](std::unique_ptr<ZdDbObject>& row) {
                              keys.push_back(OVIXFileRecord::cast(row.get())->skey());
                              return true;
                            }),
            0);
  EXPECT_EQ(keys.size(), 2u);
  zddb::BlobLocation where{"OVIXFileRecord", "m_stream", "m_skey", "big.bin"};
  EXPECT_EQ(db_->connection()->blobSize(where), static_cast<int64_t>(bytes.size()));
  StringSink sink;
  ASSERT_TRUE(db_->connection()->readBlob(where, &sink)) << db_->lastError();
  EXPECT_LE(sink.largest, 4u << 20);
  EXPECT_TRUE(sink.bytes == bytes);

  where.keyValue = "empty.bin";
  EXPECT_EQ(db_->connection()->blobSize(where), 0);
  where.keyValue = "missing";
  EXPECT_EQ(db_->connection()->blobSize(where), -1);
  EXPECT_FALSE(db_->connection()->readBlob(where, &sink));
}

TEST_P(PackageDbTest, RolledBackWritesLeaveNothing) {
  makeTables();
  ASSERT_EQ(db_->beginTransaction(0x2000), 0);
  ASSERT_EQ(writeFile("a", "1"), 0);
  ASSERT_EQ(writeFile("b", "2"), 0);
  ASSERT_EQ(db_->rollbackTransaction(), 0);
  EXPECT_TRUE(selectFiles().empty());
  ASSERT_EQ(db_->beginTransaction(0x2000), 0);
  ASSERT_EQ(writeFile("a", "1"), 0);
  ASSERT_EQ(db_->commitTransaction(), 0);
  EXPECT_EQ(selectFiles().size(), 1u);
}

// A record without bytes copies nothing and says so; one with a database's
// bytes is copied in, and copying again replaces the rows with the same key.
TEST_P(PackageDbTest, ADatabaseCarriedInARecordIsCopiedIn) {
  ovix::Env& env = *ovix::Env::Default();
  OVIXFileRecord record;
  record.setSkey("cfg\\spec.db");
  record.setDbkey("cfg\\spec.db");
  {
    zdcom::OVIXCommandLog log(dir_.file("job.logfile").c_str());
    EXPECT_FALSE(ovix::cloneDatabaseFromRecord(env, &record, db_.get()));
    EXPECT_FALSE(env.fileExists(dir_.file(ovix::kTempSqliteName)));
    EXPECT_NE(dir_.read("job.logfile").find("服务器上下载的数据为空"), std::string::npos);
  }
  std::string config = dir_.file("config.db"), error;
  ASSERT_TRUE(zddb::openSqliteConnection(config, zddb::OpenMode::kCreate, &error)->execute(
      "CREATE TABLE PipeSpec (m_skey TEXT PRIMARY KEY, size INTEGER, data BLOB);"
      "INSERT INTO PipeSpec VALUES ('DN50', 50, x'00ff'), ('路径\\x', 80, NULL);"
      "CREATE TABLE Notes (text TEXT);"
      "INSERT INTO Notes VALUES ('it''s');"));
  ASSERT_TRUE(record.loadStream(env, config));
  for (int copy = 0; copy < 2; ++copy) {
    ASSERT_TRUE(ovix::cloneDatabaseFromRecord(env, &record, db_.get())) << db_->lastError();
    EXPECT_FALSE(env.fileExists(dir_.file(ovix::kTempSqliteName)));
    EXPECT_EQ(db_->dbKey(), "cfg\\spec.db");
    std::vector<std::vector<KVParams>> rows;
    ASSERT_EQ(db_->selectSql("select m_skey, size from PipeSpec order by size",
                             {ovix::makeColumnParam("m_skey"), ovix::makeIntParam("size", "", 0)},
                             rows),
              0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(ovix::rowText(rows[1][0]), "路径\\x");
    EXPECT_EQ(rows[1][1].value.intValue(), 80);
    EXPECT_EQ(db_->pureSql("select * from Notes where text=?", {KVData::text("it's")}), 0);
  }
}

std::string targetName(const ::testing::TestParamInfo<Target>& info) {
  const char* names[] = {"PackageFile", "Embedded", "MariaDb"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Backends, PackageDbTest,
                         ::testing::Values(Target::kPackageFile, Target::kEmbedded, Target::kMariaDb),
                         targetName);

TEST(GuidTextTest, IsThirtyEightUpperCaseCharactersAndFresh) {
  std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string guid = ovix::newGuidText();
    EXPECT_TRUE(std::regex_match(guid, form)) << guid;
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
