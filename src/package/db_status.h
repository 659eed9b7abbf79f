// Status codes of the object database: 0 is success, anything else failure.

#ifndef OVIX_PACKAGE_DB_STATUS_H_
#define OVIX_PACKAGE_DB_STATUS_H_

namespace ZdDb {

using ErrorStatus = int;

inline constexpr ErrorStatus eOk = 0;
inline constexpr ErrorStatus eFailed = 1;
inline constexpr ErrorStatus eNoField = 2;       // a read named a column the row lacks
inline constexpr ErrorStatus eNotOpen = 3;       // no database is open
inline constexpr ErrorStatus eNoRow = 4;         // a select gave no row
inline constexpr ErrorStatus eBadName = 5;       // a table or column name is not plain
inline constexpr ErrorStatus eTooLarge = 6;      // a value over the size limit
inline constexpr ErrorStatus eNoMainKey = 18;    // a record without main key

// Database types.
enum DbType { kSqliteFile = 1, kServer = 2 };

}  // namespace ZdDb

#endif  // OVIX_PACKAGE_DB_STATUS_H_
