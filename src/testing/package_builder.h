// Writes package files and patch-store rows for tests (a header, or none,
// and file records with the bytes' own CRC unless a test gives another), and
// reads them back.

#ifndef OVIX_TESTING_PACKAGE_BUILDER_H_
#define OVIX_TESTING_PACKAGE_BUILDER_H_

#include <gtest/gtest.h>
#include <sodium.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "package/database.h"
#include "package/package_file.h"
#include "package/package_records.h"
#include "platform/crc.h"
#include "platform/minisign.h"

namespace ovix::testing {

struct PackageFile {
  std::string key;
  std::string bytes{};
  std::string dbkey{};
  int version = 0;
  const char* crc = nullptr;  // the bytes' own CRC unless given
  const char* guid = nullptr;
};

struct PackageHeader {
  const char* key = "A3A202612040905";  // null: no header at all
  const char* type = "DLL";
  const char* packTime = "2026-12-04-09-05";
  const char* refTable = "";  // "" is the key; null leaves it unset
  const char* projId = nullptr;
  const char* projGuid = nullptr;
  const char* name = "OVIX_TARNO";  // version V3 of 2020-01-01, kernel of 2026-01-01
  bool depend = false;
  const char* guid = "";  // "" a new one
  const char* dependGuid = nullptr;
};

// A file record as read back; a NULL text reads "<null>".
struct FileRow {
  std::string crc, guid, dbkey, bytes;
  int version = 0;
};

// A fresh signing key pair, as minisign -G would make it.
inline void makeSigningKey(minisign::SecretKey* secret, minisign::PublicKey* key) {
  ASSERT_GE(sodium_init(), 0);
  randombytes_buf(secret->id.data(), secret->id.size());
  key->id = secret->id;
  crypto_sign_keypair(key->key.data(), secret->key.data());
}

inline std::string crcOf(const std::string& bytes) {
  return crc::crc32_text(crc::crc32_update(0, bytes.data(), bytes.size()));
}

inline void addFileRecord(ZdDbDataBase* db, const char* table, const PackageFile& f) {
  OVIXFileRecord record;
  record.setSkey(f.key.c_str());
  record.setCrc(f.crc != nullptr ? f.crc : crcOf(f.bytes).c_str());
  if (!f.dbkey.empty()) record.setDbkey(f.dbkey.c_str());
  record.setGuid(f.guid);
  record.setVersion(f.version);
  record.setStream(f.bytes.data(), static_cast<int32_t>(f.bytes.size()));
  EXPECT_EQ(ovix::writeRecord(db, table, &record, 1), 0) << f.key;
}

// Adds a header, creating the header table when missing.
inline void addHeader(ZdDbDataBase* db, const PackageHeader& h) {
  ovix::createClassTable(db->getFilter(0), "OVIXPackageInfo", OVIXPackageInfo::desc());
  OVIXPackageInfo header;
  header.setSkey(h.key);
  header.setName(h.name);
  header.setVer("V3");
  header.setVerTime("2020-01-01");
  header.setKernalTime("2026-01-01");
  header.setType(h.type);
  header.setPackTime(h.packTime);
  header.setRefTblname(h.refTable == nullptr ? nullptr : *h.refTable ? h.refTable : h.key);
  header.setProjId(h.projId);
  header.setProjGuid(h.projGuid);
  header.setDepend(h.depend);
  header.setGuid(h.guid == nullptr || *h.guid ? h.guid : ovix::newGuidText().c_str());
  header.setDependGuid(h.dependGuid);
  EXPECT_EQ(ovix::writeRecord(db, "OVIXPackageInfo", &header, 1), 0) << h.key;
}

// Writes the package `path` and returns the path.
inline std::string writePackage(const std::string& path, const PackageHeader& h,
                                const std::vector<PackageFile>& files) {
  DatabaseHandle db(ovix::openPackageFile(path.c_str()));
  EXPECT_NE(db, nullptr);
  ovix::createClassTable(db->getFilter(0), "OVIXFileRecord", OVIXFileRecord::desc());
  ovix::createClassTable(db->getFilter(0), "OVIXPackageInfo", OVIXPackageInfo::desc());
  if (h.key != nullptr) addHeader(db.get(), h);
  for (const PackageFile& f : files) addFileRecord(db.get(), "OVIXFileRecord", f);
  return path;
}

// The file records of `table` by key; empty when the table is missing.
inline std::map<std::string, FileRow> fileRows(ZdDbDataBase* db, const std::string& table) {
  std::map<std::string, FileRow> out;
  std::vector<std::unique_ptr<ZdDbObject>> objects;
  if (db == nullptr || !db->connection()->tableExists(table)) return out;
  db->selectSql(("select * from " + table).c_str(), OVIXFileRecord::desc(), objects, 0);
  auto text = [](const char* t) { return std::string(t != nullptr ? t : "<null>"); };
  for (auto& object : objects) {
    auto* r = OVIXFileRecord::cast(object.get());
    out[r->skey()] = {text(r->crc()), text(r->guid()), text(r->dbkey()),
                      std::string(reinterpret_cast<char*>(r->stream().data), r->stream().size),
                      r->version()};
  }
  return out;
}

using Rows = std::vector<std::vector<std::string>>;

// What `sql` gives on the SQLite file `path` (created when missing), run
// with the sqlite3 C API; NULL reads "<null>".
inline Rows query(const std::string& path, const std::string& sql) {
  Rows rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << path;
  auto collect = [](void* out, int n, char** values, char**) {
    auto* rows = static_cast<Rows*>(out);
    rows->emplace_back();
    for (int i = 0; i < n; ++i) rows->back().push_back(values[i] ? values[i] : "<null>");
    return 0;
  };
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), collect, &rows, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  return rows;
}

}  // namespace ovix::testing

#endif  // OVIX_TESTING_PACKAGE_BUILDER_H_
