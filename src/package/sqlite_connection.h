// A SQLite database file as a Connection: package files and the databases
// of the embedded store.  Files come from elsewhere, so they are opened in
// defensive mode with an untrusted schema.

#ifndef OVIX_PACKAGE_SQLITE_CONNECTION_H_
#define OVIX_PACKAGE_SQLITE_CONNECTION_H_

#include <memory>
#include <string>

#include "package/db_connection.h"

namespace zddb {

enum class OpenMode {
  kMustExist,      // read-write, fail when the file is missing
  kCreate,         // read-write, create when missing
  kReadOnly,       // read-only, fail when the file is missing
};

// Opens `path` (":memory:" for a private in-memory database).  Null with
// *error set when the file cannot be opened or is not a SQLite database.
std::unique_ptr<Connection> openSqliteConnection(const std::string& path, OpenMode mode,
                                                 std::string* error);

// Chunk size of blob transfers.
inline constexpr size_t kBlobChunkBytes = 1 << 20;

}  // namespace zddb

#endif  // OVIX_PACKAGE_SQLITE_CONNECTION_H_
