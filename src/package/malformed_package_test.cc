// Package files come from elsewhere: whatever their bytes, opening and
// reading them fails cleanly or gives what is there, never a crash.

#include <gtest/gtest.h>

#include <random>

#include "package/package_file.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

// Opens and reads everything a job would read; returns whether it all worked.
bool readWholePackage(const std::string& path) {
  DatabaseHandle db(ovix::openPackageFile(path.c_str()));
  if (db == nullptr) return false;
  ovix::testing::ScopedRecorder quiet;
  std::vector<std::unique_ptr<ZdDbObject>> headers, files;
  bool ok = ovix::selectNewestHeader(db.get(), headers) != nullptr;
  return db->selectSql("select * from OVIXFileRecord", OVIXFileRecord::desc(), files, 0) == 0 && ok;
}

// Fields a job needs that are null or of another type read as absent; a
// package without its tables reads as nothing.
TEST(MalformedPackageTest, NullTextsReadAsAbsentFieldsAndMissingTablesAsNothing) {
  TempDir dir;
  std::string path = dir.file("nulls.package"), bare = dir.file("bare.package");
  ovix::testing::query(bare, "CREATE TABLE other (x TEXT)");
  EXPECT_FALSE(readWholePackage(bare));
  ovix::testing::query(path,
      "CREATE TABLE OVIXPackageInfo (m_skey, m_name, m_ver, m_type, m_ver_time, m_kernal_time,"
      " m_pack_time, m_ref_tblname, m_force, m_depend, m_depend_guid, m_guid, m_proj_id,"
      " m_proj_guid);"
      "INSERT INTO OVIXPackageInfo (m_force) VALUES ('yes');"
      "CREATE TABLE Short (m_skey TEXT);"
      "INSERT INTO Short VALUES ('k');"
      "CREATE TABLE OVIXFileRecord (m_skey TEXT, m_crc TEXT, m_stream BLOB, m_version TEXT);"
      "INSERT INTO OVIXFileRecord VALUES (NULL, 12, 'text, not a blob', 'seven');");
  registerRecordClasses();
  DatabaseHandle db(ovix::openPackageFile(path.c_str()));
  ASSERT_NE(db, nullptr);
  std::vector<std::unique_ptr<ZdDbObject>> rows, shortRows, files;
  ASSERT_EQ(db->selectSql("select * from OVIXPackageInfo", OVIXPackageInfo::desc(), rows, 0), 0);
  auto* header = OVIXPackageInfo::cast(rows[0].get());
  EXPECT_TRUE(header->skey() == nullptr && header->packTime() == nullptr && !header->depend());
  // A header table that lacks fields is not read as headers at all.
  EXPECT_NE(db->selectSql("select * from Short", OVIXPackageInfo::desc(), shortRows, 0), 0);
  ASSERT_EQ(db->selectSql("select * from OVIXFileRecord", OVIXFileRecord::desc(), files, 0), 0);
  auto* file = OVIXFileRecord::cast(files[0].get());
  EXPECT_EQ(file->skey(), nullptr);
  EXPECT_STREQ(file->crc(), "12");
  EXPECT_EQ(file->version(), 0);
  // A record read without key cannot be written anywhere.
  EXPECT_EQ(ovix::writeRecord(db.get(), "OVIXFileRecord", file, 1), 1);
}

// A file that is not a database is refused and left unchanged.  A cut inside
// the pages that hold rows loses data and must show; bytes cut from a page's
// unused end may go unnoticed, which the CRC of every file record catches
// later.  Flipped bytes may give any result but a crash.
TEST(MalformedPackageTest, DamagedPackagesFailCleanlyAndFlippedBytesNeverCrash) {
  TempDir dir;
  for (const std::string& contents :
       {std::string("this is not a database\n"), std::string(8192, '\0') + "x",
        std::string("SQLite format 3\0", 16) + std::string(84, '\xff')}) {
    SCOPED_TRACE(contents.size());
    EXPECT_EQ(ovix::openPackageFile(dir.write("bad.package", contents).c_str()), nullptr);
    EXPECT_EQ(dir.read("bad.package"), contents);
  }
  registerRecordClasses();
  std::vector<ovix::testing::PackageFile> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back({"dir\\file" + std::to_string(i) + ".dat",
                     std::string(3000 + i * 977, static_cast<char>('a' + i % 26))});
  }
  ASSERT_TRUE(readWholePackage(ovix::testing::writePackage(dir.file("whole.package"), {}, files)));
  const std::string bytes = dir.read("whole.package");
  for (size_t cut : {bytes.size() / 2, size_t{65536}, size_t{100}}) {
    EXPECT_FALSE(readWholePackage(dir.write("cut.package", bytes.substr(0, cut)))) << cut;
  }
  std::mt19937 random(2026);
  for (int round = 0; round < 60; ++round) {
    std::string damaged = bytes;
    for (int i = 0, flips = 1 + static_cast<int>(random() % 16); i < flips; ++i) {
      // Half the flips land in the first pages, where the schema lives.
      size_t limit = (i % 2 == 0) ? std::min<size_t>(damaged.size(), 3 * 65536) : damaged.size();
      damaged[random() % limit] ^= static_cast<char>(1 + random() % 255);
    }
    readWholePackage(dir.write("damaged.package", damaged));
  }
}

}  // namespace
