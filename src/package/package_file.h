// Operations on package databases that every job shares: opening a package
// file, making a class's table, writing one record, copying a database that
// a file record carries, finding the newest header, and GUID texts.

#ifndef OVIX_PACKAGE_PACKAGE_FILE_H_
#define OVIX_PACKAGE_PACKAGE_FILE_H_

#include <string>

#include "package/database.h"
#include "package/package_records.h"
#include "platform/env.h"

namespace ovix {

// Opens (creating when missing) the package file `path`; null when it
// cannot be opened.  The caller releases the handle with freeDatabase.
ZdDbDataBase* openPackageFile(char const* path);

// Makes the table `tableName` for objects of `cls` through `filter`.
// 0 on success, 1 when an argument is null, the class makes no object or
// the table cannot be made.
int createClassTable(ZdDbFilter* filter, char const* tableName, ZdRxClass* cls);

enum RecordWriteMode { kWriteInsert = 1, kWriteUpdate = 2 };

// Writes `record` into the table of `className`: mode 1 inserts it, mode 2
// updates the stored record with the same main key.  0 on success, 1 on
// failure (including a record without main key).
int writeRecord(ZdDbDataBase* database, char const* className, ZdDbObject* record, int mode);

// Copies the database whose bytes `record` carries into `target`, through
// the temporary file "ovix_temp_sqlite" in the program directory.
bool cloneDatabaseFromRecord(Env& env, OVIXFileRecord* record, ZdDbDataBase* target);

// The newest independent header of `database`: among headers whose m_depend
// is false, the first whose pack time is more than 60 seconds later than
// the best so far.  Shows "版本服务器中无版本信息记录" and gives null when
// the select fails or yields nothing; may give null when none qualifies.
// `headers` receives every header read (the caller owns them).
// True when a patch packed at `packTime` counts as newer than `than` (both
// from parseTimeString): more than 60 seconds later.
bool isNewerPatchTime(int64_t packTime, int64_t than);

OVIXPackageInfo* selectNewestHeader(ZdDbDataBase* database,
                                    std::vector<std::unique_ptr<ZdDbObject>>& headers);

// A fresh GUID: 38 upper-case characters in braces.
std::string newGuidText();

// A column for the row form of selectSql: `name`, an empty second text and
// an empty text value.
KVParams makeColumnParam(char const* name);
// A KVParams with a 32-bit integer value.
KVParams makeIntParam(char const* name, char const* second, int value);
// The text of a row value: its text when it is one, else null.
char const* rowText(const KVParams& cell);

// File name of the temporary copy of cloneDatabaseFromRecord.
inline constexpr char kTempSqliteName[] = "ovix_temp_sqlite";

}  // namespace ovix

#endif  // OVIX_PACKAGE_PACKAGE_FILE_H_
