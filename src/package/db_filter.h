// The filter moves a record's fields to and from one database, field by
// field: it collects field names and kinds to build a statement (pass 0),
// binds the values to the prepared statement (pass 1), and reads fields
// from the current row of a select.  ZdDbHelper runs the statement.

#ifndef OVIX_PACKAGE_DB_FILTER_H_
#define OVIX_PACKAGE_DB_FILTER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "package/db_connection.h"
#include "package/db_status.h"
#include "package/kv_data.h"

// A byte block owned by a record: size, then heap data (malloc).
struct ZdDbBlock {
  int32_t size = 0;
  unsigned char* data = nullptr;
};

// MySQL column-type codes that records pass with their fields.
inline constexpr int kFieldCodeString = 254;   // fixed-length string
inline constexpr int kFieldCodeLongBlob = 251;

class ZdDbFilter;

// One field value as a record hands it over in the collecting pass (2).
struct CollectedValue {
  enum Kind { kNull, kText, kInt, kBytes, kSource };
  Kind kind = kNull;
  std::string bytes;  // kText, kBytes
  int64_t number = 0;
  zddb::BlobSource* source = nullptr;  // kSource: the record's stream
};

// Runs one prepared statement on the filter's connection.
class ZdDbHelper {
 public:
  explicit ZdDbHelper(ZdDbFilter* filter) : filter_(filter) {}

  // Opens the server of a connection text ("address,port[,database]") for a
  // filter made by mallocDbFilter.  Non-zero when it cannot be reached.
  ZdDb::ErrorStatus openDB(char const* connectionText, int mode);
  // True when the opened server has the database `name`.
  bool databaseExists(const std::string& name);
  // Creates the database `name` on the opened server.
  ZdDb::ErrorStatus createDatabase(const std::string& name);
  // Why the last openDB or createDatabase failed.
  const std::string& lastError() const { return error_; }

  // Prepares `text`; the statement of the previous prepareSql is reused
  // when its text is the same, so writing many records of one class
  // prepares once.
  ZdDb::ErrorStatus prepareSql(char const* text);
  // Runs the prepared statement once its values are bound.
  ZdDb::ErrorStatus stepSql();
  // Ends the use of the statement: it is reset (releasing what it holds on
  // the database) and kept for a later prepareSql of the same text.
  void finalizeSql();
  // Destroys the kept statement (before its connection goes).
  void dropStatement();
  zddb::Statement* statement() { return statement_.get(); }

 private:
  ZdDbFilter* filter_;
  std::unique_ptr<zddb::Server> server_;
  std::unique_ptr<zddb::Statement> statement_;
  std::string statementText_;
  zddb::Connection* statementConnection_ = nullptr;
  std::string error_;
};

class ZdDbFilter {
 public:
  enum StatementKind { kInsert = 1, kUpdate = 2, kCreateTable = 5 };

  explicit ZdDbFilter(int dbType);
  ~ZdDbFilter();

  // 1 for a local SQLite file, 2 for a server database.
  int dbType() const { return dbType_; }
  // The connection statements run on; set by the database that owns the
  // filter, or by runner()->openDB.
  void attach(zddb::Connection* connection) { connection_ = connection; }
  zddb::Connection* connection() const { return connection_; }
  // Lets the filter own the connection (filters made by mallocDbFilter).
  void adopt(std::unique_ptr<zddb::Connection> connection);

  // --- building a statement ---------------------------------------------
  void setMainKey(char const* name, zddb::FieldKind kind);
  // A table name must be a plain identifier; another makes status() fail.
  void setTable(char const* name);
  void setStatementKind(int kind);
  // 0: collect field names; 1: bind values to the prepared statement;
  // 2: collect the values (collected()) for a caller that writes several
  // records with one statement.
  void setPass(int pass);
  void setKeyId(int64_t id);
  // The main key's value as getMainKeyValue gives it: for a server
  // database the text is in its escaped literal form, which the filter
  // turns back before binding, so the stored key is the record's own text.
  void setKeyValue(const KVData& value);
  // Forgets the fields collected so far.
  void resetFields();
  ZdDb::ErrorStatus status() const { return status_; }
  // The statement for the fields of pass 0 (empty when there are none).
  std::string statementText() const;
  ZdDbHelper* runner() { return &runner_; }
  // Runs a statement without rows or parameters.
  ZdDb::ErrorStatus execute(char const* sql);
  void setState(int state) { state_ = state; }
  int state() const { return state_; }

  // The key text to bind for the current write.
  const std::string& boundKey() const { return keyText_; }
  int statementKind() const { return kind_; }
  const std::vector<zddb::FieldSpec>& fields() const { return fields_; }
  std::vector<CollectedValue>& collected() { return collected_; }

  // --- fields written by a record ----------------------------------------
  ZdDb::ErrorStatus writeString(char const* name, char const* text);
  ZdDb::ErrorStatus writeString(char const* name, char const* text, int length, int typeCode);
  ZdDb::ErrorStatus writeBool(char const* name, bool value);
  ZdDb::ErrorStatus writeInt(char const* name, int32_t value);
  ZdDb::ErrorStatus writeBlob(char const* name, const ZdDbBlock& block, int typeCode);
  // Like writeBlob, with the bytes streamed from `source` in chunks.
  ZdDb::ErrorStatus writeBlobSource(char const* name, zddb::BlobSource* source, int typeCode);

  // --- fields read by a record from the current row ----------------------
  // How readBlob hands over a blob column.
  enum class BlobReading {
    kCopy,   // a heap block of its own
    kDefer,  // nothing: the block stays empty (the caller streams the bytes)
    kView,   // the statement's own bytes, valid until the next row
    // As kView, except that a large value the engine keeps where it arrived
    // (see Statement::columnSource) is read with readBlobSource instead.
    kStream,
  };
  // Starts reading from `row` (a statement positioned on a row).
  void beginRead(zddb::Statement* row, BlobReading blobs);
  // True when readBlob lends the statement's bytes instead of a copy.
  bool blobsAreViews() const {
    return blobs_ == BlobReading::kView || blobs_ == BlobReading::kStream;
  }
  void endRead();
  // A NULL column gives a null text; a missing column gives eNoField.
  ZdDb::ErrorStatus readString(char const* name, char*& text);
  ZdDb::ErrorStatus readBool(char const* name, bool& value);
  ZdDb::ErrorStatus readInt(char const* name, int32_t& value);
  ZdDb::ErrorStatus readBlob(char const* name, ZdDbBlock& block);
  // With BlobReading::kStream: the bytes of column `name` when the engine
  // keeps them where they arrived (a large value), as a source valid until
  // the row moves on; null otherwise, and readBlob then gives them.
  std::unique_ptr<zddb::BlobSource> readBlobSource(char const* name);

 private:
  // Pass 0: records the field; pass 1: returns the parameter index to bind
  // or -1 when the field takes no parameter (the key of an update).
  int nextField(char const* name, zddb::FieldKind kind, int length);
  int columnIndex(char const* name);

  int dbType_;
  zddb::Connection* connection_ = nullptr;
  std::unique_ptr<zddb::Connection> owned_;
  ZdDbHelper runner_{this};

  std::string table_;
  std::string mainKey_;
  zddb::FieldKind mainKeyKind_ = zddb::FieldKind::kText;
  int kind_ = 0;
  int pass_ = 0;
  int state_ = 0;
  ZdDb::ErrorStatus status_ = ZdDb::eOk;
  std::string keyText_;
  std::vector<zddb::FieldSpec> fields_;
  int bindIndex_ = 0;
  std::vector<CollectedValue> collected_;

  zddb::Statement* row_ = nullptr;
  BlobReading blobs_ = BlobReading::kCopy;
  std::map<std::string, int> columns_;
};

// A filter of its own for `dbType`, not tied to a database; its runner
// opens a server with openDB.  Owned by the caller.
std::unique_ptr<ZdDbFilter> mallocDbFilter(int dbType);

// Undoes the escaping of a key text for a server database: every doubled
// backslash becomes one.
std::string unescapeKeyText(const std::string& text);

#endif  // OVIX_PACKAGE_DB_FILTER_H_
