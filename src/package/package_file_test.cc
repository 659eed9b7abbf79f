// Package databases on every backend: a package file, the embedded store and
// the private MariaDB.

#include "package/package_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <set>
#include <tuple>

#include "platform/program_paths.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "testing/server_backends.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::Backend;
using ovix::testing::ScratchServer;
using ovix::testing::StringSink;
using ovix::testing::TempDir;
using zddb::BlobLocation;

enum class Target { kPackageFile, kEmbedded, kMariaDb };

class PackageDbTest : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    registerRecordClasses();
    ovix::fillProgramPaths(dir_.file("ovixpatch"), std::nullopt);
    if (GetParam() == Target::kPackageFile) {
      db_.reset(ovix::openPackageFile(dir_.file("test.package").c_str()));
      ASSERT_NE(db_, nullptr);
    } else {
      server_ = std::make_unique<ScratchServer>(
          GetParam() == Target::kEmbedded ? Backend::kEmbedded : Backend::kMariaDb);
      OVIX_REQUIRE_SERVER(*server_);
      std::string name = server_->createDatabase("pkgtest");
      db_.reset(mallocDatabase(2));
      db_->setOpenFlag(16);
      ASSERT_EQ(db_->pureOpenDB_2(server_->connectionText(name).c_str(), 1, nullptr), 0)
          << db_->lastError();
    }
    for (auto [name, cls] : {std::pair{"OVIXFileRecord", OVIXFileRecord::desc()},
                             {"OVIXPackageInfo", OVIXPackageInfo::desc()}})
      ASSERT_EQ(ovix::createClassTable(db_->getFilter(0), name, cls), 0) << db_->lastError();
  }

  // Inserts (mode 1) or updates (mode 2, which leaves the GUID) file `key`.
  int writeFile(const std::string& key, const char* crc, const std::string& bytes, int mode = 1) {
    OVIXFileRecord record;
    record.setSkey(key.c_str());
    record.setCrc(crc);
    record.setGuid(mode == 1 ? "{G}" : "{CHANGED}");
    record.setWriteGuid(mode == 1);
    record.setDbkey("db\\key");
    record.setVersion(mode == 1 ? 3 : 9);
    record.setStream(bytes.data(), static_cast<int32_t>(bytes.size()));
    return ovix::writeRecord(db_.get(), "OVIXFileRecord", &record, mode);
  }

  TempDir dir_;
  std::unique_ptr<ScratchServer> server_;
  DatabaseHandle db_;
};

// Keys that would break a query built from text, and an update that finds
// each by its key and leaves the GUID when told to.  A record without key or
// with a taken one is never inserted.
TEST_P(PackageDbTest, KeysRoundTripByteForByteAndUpdatesFindThem) {
  const std::vector<std::string> keys = {
      "\\leading\\backslash.dll", "sub\\dir\\file.txt", "back\\slash\\", "it's \"quoted\"",
      "100% _x_", "with space", "中文\\路径\\配置.ini", "x'; DROP TABLE OVIXFileRecord; --",
      "SELECT * FROM t WHERE 1=1 OR ''=''", "line\nbreak\ttab", "`backtick`", "Case.txt",
      "case.txt", "CASE.TXT"};
  for (const std::string& key : keys) ASSERT_EQ(writeFile(key, "0000ABCD", key), 0) << key;
  EXPECT_EQ(writeFile("case.txt", "0000ABCD", "taken"), 1);
  OVIXFileRecord keyless;
  EXPECT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", &keyless, 1), 1);
  keyless.setSkey("");
  EXPECT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", &keyless, 1), 1);
  EXPECT_EQ(ovix::writeRecord(nullptr, "OVIXFileRecord", &keyless, 1), 1);
  for (const std::string& key : keys) ASSERT_EQ(writeFile(key, "FFFFFFFF", "new", 2), 0) << key;
  auto back = ovix::testing::fileRows(db_.get(), "OVIXFileRecord");
  ASSERT_EQ(back.size(), keys.size());
  for (const std::string& key : keys) {
    const ovix::testing::FileRow& row = back[key];
    EXPECT_EQ(row.crc + " " + row.guid + " " + row.bytes + " " + std::to_string(row.version),
              "FFFFFFFF {G} new 9")
        << key;
  }
  std::vector<std::string> columns;  // the database key goes into package files only
  ASSERT_TRUE(db_->connection()->listColumns("OVIXFileRecord", &columns));
  EXPECT_EQ(std::count(columns.begin(), columns.end(), "m_dbkey"),
            GetParam() == Target::kPackageFile);
}

TEST_P(PackageDbTest, NewestHeaderIsTheFirstOfCloseOnesAndSkipsDependents) {
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  {
    ovix::testing::ScopedRecorder recorder;
    EXPECT_EQ(ovix::selectNewestHeader(db_.get(), headers), nullptr);
    EXPECT_EQ(recorder.messages, std::vector<std::string>{"版本服务器中无版本信息记录"});
  }
  // A2 is 30 s after A1, which stays best; A3 depends on another; A4 is newest.
  for (auto [key, packTime, depend] : {std::tuple{"A1", "2026-12-04-09-00", false},
                                       {"A2", "2026-12-04 09:00:30", false},
                                       {"A3", "2026-12-04-10-00", true},
                                       {"A4", "2026-12-04-09-30", false}})
    ovix::testing::addHeader(db_.get(), {.key = key, .packTime = packTime, .depend = depend});
  OVIXPackageInfo* best = ovix::selectNewestHeader(db_.get(), headers);
  ASSERT_NE(best, nullptr);
  EXPECT_STREQ(best->skey(), "A4");
  EXPECT_EQ(headers.size(), 4u);
}

// A large value is streamed in slices.  Empty values stay empty rather than
// NULL, and a location that is not made of plain names is refused.
TEST_P(PackageDbTest, LargeStreamsTravelInChunks) {
  ovix::Env& env = *ovix::Env::Default();
  std::string bytes(20 * 1024 * 1024 + 123, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  OVIXFileRecord big, empty, emptyFile;  // `empty` has no bytes, `emptyFile` an empty file's
  big.setSkey("big.bin");
  empty.setSkey("empty.bin");
  emptyFile.setSkey("empty.src");
  ASSERT_TRUE(big.setStreamFile(env, dir_.write("big.bin", bytes)) &&
              emptyFile.setStreamFile(env, dir_.write("empty.src", "")));
  EXPECT_EQ(big.streamSize(), static_cast<int64_t>(bytes.size()));
  for (OVIXFileRecord* r : {&big, &empty, &emptyFile})
    ASSERT_EQ(ovix::writeRecord(db_.get(), "OVIXFileRecord", r, 1), 0) << db_->lastError();
  zddb::Connection& connection = *db_->connection();
  BlobLocation where{"OVIXFileRecord", "m_stream", "m_skey", "big.bin"};
  EXPECT_EQ(connection.blobSize(where), static_cast<int64_t>(bytes.size()));
  StringSink sink;
  ASSERT_TRUE(connection.readBlob(where, &sink)) << db_->lastError();
  EXPECT_TRUE(sink.largest <= (4u << 20) && sink.bytes == bytes) << sink.largest;
  auto type = connection.prepare("SELECT m_stream FROM OVIXFileRecord WHERE m_skey = ?");
  for (const char* key : {"empty.bin", "empty.src"}) {
    where.keyValue = key;
    EXPECT_EQ(connection.blobSize(where), 0) << key;
    ASSERT_TRUE(type->bindText(0, key) && type->step() == zddb::StepResult::kRow) << key;
    EXPECT_EQ(type->columnType(0), zddb::ColumnType::kBlob) << key;
    type->reset();
  }
  where.keyValue = "missing";
  EXPECT_EQ(connection.blobSize(where), -1);
  EXPECT_FALSE(connection.readBlob(where, &sink));
  for (BlobLocation bad : {BlobLocation{"OVIXFileRecord; DROP", "m_stream", "m_skey", "x"},
                           {"OVIXFileRecord", "m_stream`", "m_skey", "x"},
                           {"OVIXFileRecord", "m_stream", "", "x"}}) {
    EXPECT_FALSE(connection.readBlob(bad, &sink));
    EXPECT_THAT(connection.lastError(), ::testing::HasSubstr("plain"));
  }
}

// A record without bytes copies nothing (its log line is RecordsTest's); one
// with a database's bytes is copied in, and copying again replaces the rows
// with the same key.
TEST_P(PackageDbTest, ADatabaseCarriedInARecordIsCopiedIn) {
  ovix::Env& env = *ovix::Env::Default();
  OVIXFileRecord record;
  record.setSkey("cfg\\spec.db");
  record.setDbkey("cfg\\spec.db");
  EXPECT_FALSE(ovix::cloneDatabaseFromRecord(env, &record, db_.get()));
  EXPECT_FALSE(env.fileExists(dir_.file(ovix::kTempSqliteName)));
  std::string config = dir_.file("config.db");
  ovix::testing::query(config,
                       "CREATE TABLE PipeSpec (m_skey TEXT PRIMARY KEY, size INTEGER, data BLOB);"
                       "INSERT INTO PipeSpec VALUES ('DN50', 50, x'00ff'), ('路径\\x', 80, NULL);"
                       "CREATE TABLE Notes (text TEXT);"
                       "INSERT INTO Notes VALUES ('it''s');");
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

const char* const kTargetNames[] = {"PackageFile", "Embedded", "MariaDb"};
INSTANTIATE_TEST_SUITE_P(Backends, PackageDbTest,
                         ::testing::Values(Target::kPackageFile, Target::kEmbedded, Target::kMariaDb),
                         [](const auto& info) { return kTargetNames[int(info.param)]; });

// A new GUID is of version 4 (random) with the RFC 4122 variant; both sit
// in fixed places only when the bytes come in text order.
TEST(GuidTextTest, IsThirtyEightUpperCaseCharactersOfVersionFourAndFresh) {
  std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    EXPECT_TRUE(std::regex_match(*seen.insert(ovix::newGuidText()).first, form));
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
