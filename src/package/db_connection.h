// The storage engines under the object database: one open database of SQLite
// or of a MariaDB/MySQL server, with prepared statements whose values are
// always bound.  The object-database classes (ZdDbDataBase, ZdDbFilter, ...)
// build their statements on this interface and never see a C handle.
//
// Identifiers are quoted with backticks, which both engines accept.
// Every operation returns bool (or a StepResult); the reason of a failure is
// readable through lastError() of the connection.

#ifndef OVIX_PACKAGE_DB_CONNECTION_H_
#define OVIX_PACKAGE_DB_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zddb {

enum class Dialect { kSqlite, kMariaDb };

enum class StepResult { kRow, kDone, kError };

enum class ColumnType { kNull, kInteger, kDouble, kText, kBlob };

// Bytes that a statement streams into a blob column, front to back, so that
// a large file never has to sit in memory whole.
class BlobSource {
 public:
  virtual ~BlobSource() = default;
  virtual int64_t size() const = 0;
  // Reads the next bytes; *got is 0 only at the end.  False on a read error.
  virtual bool read(char* buf, size_t n, size_t* got) = 0;
};

// Receives a blob column's bytes in chunks.
class BlobSink {
 public:
  virtual ~BlobSink() = default;
  virtual bool write(const char* data, size_t n) = 0;
};

// Where a blob value lives: one column of the row whose key column holds
// keyValue.  Table and column names must be plain identifiers.
struct BlobLocation {
  std::string table;
  std::string column;
  std::string keyColumn;
  std::string keyValue;
};

// The kinds of column a record field can have.
enum class FieldKind {
  kText,        // variable text
  kFixedText,   // text of at most `length` characters (MySQL code 254)
  kInteger,     // 32-bit integer
  kBool,        // stored as an integer 0/1
  kLongBlob,    // bytes (MySQL code 251)
};

struct FieldSpec {
  std::string name;
  FieldKind kind = FieldKind::kText;
  int length = 0;  // kFixedText only
};

// One prepared statement.  Parameters are numbered from 0, columns of the
// current row from 0.  A statement belongs to the connection that made it
// and must be destroyed before it.
class Statement {
 public:
  virtual ~Statement() = default;

  virtual bool bindNull(int index) = 0;
  virtual bool bindText(int index, std::string_view text) = 0;
  virtual bool bindInt(int index, int64_t value) = 0;
  virtual bool bindDouble(int index, double value) = 0;
  virtual bool bindBlob(int index, const void* data, size_t size) = 0;
  // Like bindBlob, without copying: the bytes must stay unchanged until
  // step() has returned.  Engines that must copy anyway keep bindBlob's way.
  virtual bool bindBlobRef(int index, const void* data, size_t size) {
    return bindBlob(index, data, size);
  }
  // Streams `source` into the parameter.  The source must stay alive until
  // step() has returned.  `where` names the row that the statement writes
  // (the engine may fill the value after the row exists); for an INSERT or
  // UPDATE that writes exactly that row.
  virtual bool bindBlobSource(int index, BlobSource* source, const BlobLocation& where) = 0;

  // Runs the statement or moves to its next row.
  virtual StepResult step() = 0;
  // Makes the statement ready to run again; bindings stay unless rebound.
  virtual bool reset() = 0;

  virtual int columnCount() = 0;
  virtual std::string columnName(int index) = 0;
  virtual ColumnType columnType(int index) = 0;
  virtual int64_t columnInt(int index) = 0;
  virtual double columnDouble(int index) = 0;
  // Text or blob bytes of the column; "" for NULL.
  virtual std::string columnBytes(int index) = 0;
  // The column's bytes where the statement holds them, valid until the next
  // step; false when the engine cannot lend them (use columnBytes).
  virtual bool columnView(int index, const char** data, size_t* size) {
    (void)index;
    (void)data;
    (void)size;
    return false;
  }
  // The column's bytes as a source to read in chunks, for a value the
  // statement keeps where it arrived rather than in a copy of its own (a
  // large value of a row streamed from a server).  Valid until the next
  // step or reset; null when the value is NULL or is read by columnView or
  // columnBytes instead.
  virtual std::unique_ptr<BlobSource> columnSource(int index) {
    (void)index;
    return nullptr;
  }
};

class Connection {
 public:
  virtual ~Connection() = default;

  virtual Dialect dialect() const = 0;
  // The reason of the last failure on this connection.
  virtual const std::string& lastError() const = 0;

  // Runs statements that return no rows and have no parameters.
  virtual bool execute(std::string_view sql) = 0;
  // Prepares one statement; null on failure.
  virtual std::unique_ptr<Statement> prepare(std::string_view sql) = 0;

  virtual bool beginTransaction() = 0;
  virtual bool commitTransaction() = 0;
  virtual bool rollbackTransaction() = 0;
  // A transaction that only reads, so that many small reads share one view
  // and one lock of the database; engines without such a need do nothing.
  virtual bool beginReadTransaction() { return true; }
  virtual bool endReadTransaction() { return true; }

  virtual bool tableExists(const std::string& table) = 0;
  virtual bool listTables(std::vector<std::string>* tables) = 0;
  // Column names of a table in their order.
  virtual bool listColumns(const std::string& table, std::vector<std::string>* columns) = 0;

  // The column definition for a field, e.g. "`m_skey` TEXT" or, with
  // isKey, the engine's primary-key form.
  virtual std::string columnDefinition(const FieldSpec& field, bool isKey) const = 0;
  // Text after the closing parenthesis of CREATE TABLE ("" or the engine,
  // character set and collation).
  virtual std::string tableOptions() const = 0;

  // Largest value in bytes that one statement can carry (the server's packet
  // limit); a larger value is refused before anything is sent.
  virtual uint64_t maxValueBytes() = 0;
  // What a row needs beside its largest value (its key and short texts),
  // kept free below maxValueBytes().
  static constexpr uint64_t kRowOverheadBytes = 64 << 10;

  // Copies the blob at `where` into `sink` in chunks.  False when the row
  // does not exist or the transfer fails.
  virtual bool readBlob(const BlobLocation& where, BlobSink* sink) = 0;
  // Size in bytes of the blob at `where`; -1 when the row does not exist.
  virtual int64_t blobSize(const BlobLocation& where) = 0;
  // The blob at `where` as a source to read front to back in chunks, for
  // handing to another database's statement; null when the row does not
  // exist or the engine cannot stream it.  The source must be destroyed
  // before this connection, and the row must not change meanwhile.
  virtual std::unique_ptr<BlobSource> openBlob(const BlobLocation& where) {
    (void)where;
    return nullptr;
  }

  // Serialises the patches of one named resource across processes on the
  // same server: true once the lock is held (waiting at most `seconds`).
  // Released by unlockNamed or when the connection closes.  `holderText`
  // tells later waiters who holds the lock, as far as the engine can keep
  // it.  On false, *holder (when given) describes the holder when the lock
  // was busy and is empty when taking it failed otherwise; lastError()
  // says why in both cases.
  virtual bool lockNamed(const std::string& name, int seconds, const std::string& holderText,
                         std::string* holder) = 0;
  virtual bool unlockNamed(const std::string& name) = 0;
};

// A database server: opens connections to its databases and creates them.
class Server {
 public:
  virtual ~Server() = default;
  virtual const std::string& lastError() const = 0;
  virtual bool databaseExists(const std::string& name) = 0;
  virtual bool createDatabase(const std::string& name) = 0;
  // Opens the database `name`; null when the server or the database cannot
  // be reached.
  virtual std::unique_ptr<Connection> connect(const std::string& name) = 0;
};

// True for a plain identifier: 1 to 64 of [A-Za-z0-9_].
bool isPlainIdentifier(std::string_view name);

// `name` quoted with backticks (the name must be a plain identifier).
std::string quoteIdentifier(std::string_view name);

}  // namespace zddb

#endif  // OVIX_PACKAGE_DB_CONNECTION_H_
