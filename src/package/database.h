// One open database of the object database: a package file (type 1) or a
// database on the version server (type 2), with its filter.

#ifndef OVIX_PACKAGE_DATABASE_H_
#define OVIX_PACKAGE_DATABASE_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "package/db_connection.h"
#include "package/db_filter.h"
#include "package/db_status.h"
#include "package/kv_data.h"
#include "package/rx_object.h"

class ZdDbDataBase {
 public:
  explicit ZdDbDataBase(int dbType);
  ~ZdDbDataBase();
  ZdDbDataBase(const ZdDbDataBase&) = delete;
  ZdDbDataBase& operator=(const ZdDbDataBase&) = delete;

  int getDBType() const { return dbType_; }

  void setOpenFlag(int flag) { openFlag_ = flag; }
  void addOpenFlag(int flag) { openFlag_ |= flag; }
  void clearOpenFlag(int flag) { openFlag_ &= ~flag; }
  int openFlag() const { return openFlag_; }

  // Opens `name`: a file path for type 1 (mode 1 creates a missing file,
  // mode 0 requires it), a connection text "address,port,database" for
  // type 2 (the database must exist).  Non-zero when it cannot be opened;
  // lastError() then tells why.
  ZdDb::ErrorStatus pureOpenDB_2(char const* name, int mode, char const* third);
  // Opens an existing SQLite file read-write.
  ZdDb::ErrorStatus openDB(char const* path, int mode, char const* third);
  bool isOpen() const { return connection_ != nullptr; }
  const std::string& name() const { return name_; }
  const std::string& lastError() const;

  // The database's filter; null while the database is not open.
  ZdDbFilter* getFilter(int which);
  zddb::Connection* connection() { return connection_.get(); }

  ZdDb::ErrorStatus beginTransaction(int flags);
  // The flags of a transaction that writes (the value the suite passes).
  static constexpr int kWriteTransaction = 0x2000;
  ZdDb::ErrorStatus commitTransaction();
  ZdDb::ErrorStatus rollbackTransaction();

  // Runs a statement; `args` are bound to its '?' parameters in order.
  ZdDb::ErrorStatus exeSql(char const* sql, const std::vector<KVData>& args = {});
  // Like exeSql; a statement with rows succeeds only when it yields one.
  ZdDb::ErrorStatus pureSql(char const* sql, const std::vector<KVData>& args = {});

  // Reads every row as an object of `cls` into `objects` (owned by the
  // caller).  Non-zero when the statement fails or yields no row.
  ZdDb::ErrorStatus selectSql(char const* sql, ZdRxClass* cls,
                              std::vector<std::unique_ptr<ZdDbObject>>& objects, int flags,
                              const std::vector<KVData>& args = {});
  // Reads the columns named in `columns` (their values give the wanted
  // types; a text value asks for text) from every row into `rows`.
  // Non-zero when the statement fails or yields no row.
  ZdDb::ErrorStatus selectSql(char const* sql, const std::vector<KVParams>& columns,
                              std::vector<std::vector<KVParams>>& rows,
                              const std::vector<KVData>& args = {});
  // Reads row after row as an object of `cls` and hands each to `visit`,
  // which returns false to stop; only one object is in memory at a time.
  // `blobs` says how blob fields arrive: copied, left empty (stream them
  // with readBlob), or lent or streamed from the statement's row (valid
  // during the visit only; see RecordBytes).
  // Non-zero when the statement or a row fails; no row is success.
  // The visitor may take the object; one it leaves is deleted.
  using RowVisitor = std::function<bool(std::unique_ptr<ZdDbObject>& object)>;
  ZdDb::ErrorStatus selectEach(char const* sql, ZdRxClass* cls, ZdDbFilter::BlobReading blobs,
                               const RowVisitor& visit, const std::vector<KVData>& args = {});

  // Copies every table of `source` (a SQLite database) with its rows into
  // this database; rows with the key of an existing row replace it.
  ZdDb::ErrorStatus dbClone(ZdDbDataBase* source, bool replace, void* reserved);
  // Names the copy that dbClone makes (the key is in its escaped form).
  ZdDb::ErrorStatus setDbkey(char const* key, const std::string& seed);
  const std::string& dbKey() const { return dbKey_; }
  // An identity of this database's contents for setDbkey.
  std::string getDbSeed();

 private:
  ZdDb::ErrorStatus openSqlite(char const* path, bool create);
  ZdDb::ErrorStatus cloneTable(zddb::Connection* from, const std::string& table);
  ZdDb::ErrorStatus run(char const* sql, const std::vector<KVData>& args, bool needRow);
  std::unique_ptr<zddb::Statement> prepareBound(char const* sql, const std::vector<KVData>& args);

  int dbType_;
  int openFlag_ = 0;
  std::string name_;
  std::string error_;
  std::unique_ptr<zddb::Server> server_;
  std::unique_ptr<zddb::Connection> connection_;
  std::unique_ptr<ZdDbFilter> filter_;
  std::string dbKey_;
};

// A database handle of `dbType` (1 or 2), not yet open.  Release it with
// freeDatabase.
ZdDbDataBase* mallocDatabase(int dbType);
void freeDatabase(ZdDbDataBase* database);

// Owns a handle from mallocDatabase and frees it on every path.
struct DatabaseDeleter {
  void operator()(ZdDbDataBase* database) const { freeDatabase(database); }
};
using DatabaseHandle = std::unique_ptr<ZdDbDataBase, DatabaseDeleter>;

// Settings of the object database that hold for the whole run.
class ZdDbSystem {
 public:
  static void set_db_logfile(char const* path, int flags);
  static const std::string& dbLogFile();
  static void setDefDbtype(int type);
  static int defDbtype();
  static void setProjectConstr(char const* connectionText);
  static const std::string& projectConstr();
};

#endif  // OVIX_PACKAGE_DATABASE_H_
