// Writes package files for tests: a header (or none) and file records, with
// the bytes' own CRC unless a test gives another.

#ifndef OVIX_TESTING_PACKAGE_BUILDER_H_
#define OVIX_TESTING_PACKAGE_BUILDER_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/database.h"
#include "package/package_file.h"
#include "package/package_records.h"
#include "platform/crc.h"

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
};

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

// Writes the package `path` and returns the path.
inline std::string writePackage(const std::string& path, const PackageHeader& h,
                                const std::vector<PackageFile>& files) {
  DatabaseHandle db(ovix::openPackageFile(path.c_str()));
  EXPECT_NE(db, nullptr);
  ovix::createClassTable(db->getFilter(0), "OVIXFileRecord", OVIXFileRecord::desc());
  ovix::createClassTable(db->getFilter(0), "OVIXPackageInfo", OVIXPackageInfo::desc());
  if (h.key != nullptr) {
    OVIXPackageInfo header;
    header.setSkey(h.key);
    header.setType(h.type);
    header.setPackTime(h.packTime);
    header.setRefTblname(h.refTable == nullptr ? nullptr : *h.refTable ? h.refTable : h.key);
    header.setProjId(h.projId);
    header.setProjGuid(h.projGuid);
    header.setGuid(ovix::newGuidText().c_str());
    EXPECT_EQ(ovix::writeRecord(db.get(), "OVIXPackageInfo", &header, 1), 0);
  }
  for (const PackageFile& f : files) addFileRecord(db.get(), "OVIXFileRecord", f);
  return path;
}

}  // namespace ovix::testing

#endif  // OVIX_TESTING_PACKAGE_BUILDER_H_
