// Move-only owners of SQLite's C handles.

#ifndef OVIX_PACKAGE_SQLITE_HANDLES_H_
#define OVIX_PACKAGE_SQLITE_HANDLES_H_

#include <sqlite3.h>

#include <memory>

namespace zddb {

struct SqliteDbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteStmtCloser {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
struct SqliteBlobCloser {
  void operator()(sqlite3_blob* blob) const { sqlite3_blob_close(blob); }
};

using SqliteDb = std::unique_ptr<sqlite3, SqliteDbCloser>;
using SqliteStmt = std::unique_ptr<sqlite3_stmt, SqliteStmtCloser>;
using SqliteBlob = std::unique_ptr<sqlite3_blob, SqliteBlobCloser>;

}  // namespace zddb

#endif  // OVIX_PACKAGE_SQLITE_HANDLES_H_
