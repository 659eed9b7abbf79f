#include "package/database.h"

#include <utility>

#include <strings.h>

#include "package/server_address.h"
#include "package/sqlite_connection.h"

namespace {

bool bindValue(zddb::Statement* stmt, int index, const KVData& value) {
  switch (value.type()) {
    case KVData::kText:
      return value.textValue() != nullptr ? stmt->bindText(index, value.textValue())
                                          : stmt->bindNull(index);
    case KVData::kBytes:
      return stmt->bindBlob(index, value.bytes(), static_cast<size_t>(value.byteSize()));
    case KVData::kDouble:
      return stmt->bindDouble(index, value.doubleValue());
    case KVData::kNone:
      return stmt->bindNull(index);
    default:
      return stmt->bindInt(index, value.rawValue());
  }
}

// The column value of the current row in the type `wanted` asks for.
KVData columnValue(zddb::Statement* stmt, int index, int wanted) {
  KVData value;
  zddb::ColumnType type = stmt->columnType(index);
  if (type == zddb::ColumnType::kNull) return value;
  if (wanted == KVData::kText) {
    value.setText(stmt->columnBytes(index));
  } else if (type == zddb::ColumnType::kInteger) {
    value.setInt(static_cast<int32_t>(stmt->columnInt(index)));
  } else if (type == zddb::ColumnType::kDouble) {
    value.setDouble(stmt->columnDouble(index));
  } else if (type == zddb::ColumnType::kBlob) {
    std::string bytes = stmt->columnBytes(index);
    value.setBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
  } else {
    value.setText(stmt->columnBytes(index));
  }
  return value;
}

int findColumn(zddb::Statement* stmt, const std::string& name) {
  int n = stmt->columnCount();
  for (int i = 0; i < n; ++i) {
    if (strcasecmp(stmt->columnName(i).c_str(), name.c_str()) == 0) return i;
  }
  return -1;
}

zddb::FieldKind kindOfDeclaredType(std::string declared) {
  for (char& c : declared) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (declared.find("INT") != std::string::npos) return zddb::FieldKind::kInteger;
  if (declared.find("BLOB") != std::string::npos) return zddb::FieldKind::kLongBlob;
  return zddb::FieldKind::kText;
}

}  // namespace

ZdDbDataBase::ZdDbDataBase(int dbType) : dbType_(dbType) {}

ZdDbDataBase::~ZdDbDataBase() {
  filter_.reset();  // its statements go before the connection
  connection_.reset();
}

const std::string& ZdDbDataBase::lastError() const {
  if (connection_ != nullptr && error_.empty()) return connection_->lastError();
  return error_;
}

ZdDb::ErrorStatus ZdDbDataBase::openSqlite(char const* path, bool create) {
  if (path == nullptr || *path == '\0') {
    error_ = "no database file named";
    return ZdDb::eNotOpen;
  }
  connection_ = zddb::openSqliteConnection(
      path, create ? zddb::OpenMode::kCreate : zddb::OpenMode::kMustExist, &error_);
  if (!connection_) return ZdDb::eNotOpen;
  name_ = path;
  return ZdDb::eOk;
}

ZdDb::ErrorStatus ZdDbDataBase::pureOpenDB_2(char const* name, int mode, char const*) {
  filter_.reset();
  connection_.reset();
  server_.reset();
  error_.clear();
  if (dbType_ == ZdDb::kSqliteFile) return openSqlite(name, mode == 1);

  zddb::ConnectionTarget target = zddb::splitConnectionText(name);
  server_ = zddb::openServer(target.address, target.port, &error_);
  if (!server_) return ZdDb::eNotOpen;
  connection_ = server_->connect(target.database);
  if (!connection_) {
    error_ = server_->lastError();
    return ZdDb::eNotOpen;
  }
  name_ = name != nullptr ? name : "";
  return ZdDb::eOk;
}

ZdDb::ErrorStatus ZdDbDataBase::openDB(char const* path, int, char const*) {
  filter_.reset();
  connection_.reset();
  error_.clear();
  return openSqlite(path, false);
}

ZdDbFilter* ZdDbDataBase::getFilter(int) {
  if (!connection_) return nullptr;
  if (!filter_) {
    filter_ = std::make_unique<ZdDbFilter>(dbType_);
    filter_->attach(connection_.get());
  }
  return filter_.get();
}

ZdDb::ErrorStatus ZdDbDataBase::beginTransaction(int) {
  if (!connection_) return ZdDb::eNotOpen;
  return connection_->beginTransaction() ? ZdDb::eOk : ZdDb::eFailed;
}

ZdDb::ErrorStatus ZdDbDataBase::commitTransaction() {
  if (!connection_) return ZdDb::eNotOpen;
  return connection_->commitTransaction() ? ZdDb::eOk : ZdDb::eFailed;
}

ZdDb::ErrorStatus ZdDbDataBase::rollbackTransaction() {
  if (!connection_) return ZdDb::eNotOpen;
  return connection_->rollbackTransaction() ? ZdDb::eOk : ZdDb::eFailed;
}

std::unique_ptr<zddb::Statement> ZdDbDataBase::prepareBound(char const* sql,
                                                            const std::vector<KVData>& args) {
  if (!connection_ || sql == nullptr) return nullptr;
  std::unique_ptr<zddb::Statement> stmt = connection_->prepare(sql);
  if (!stmt) return nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!bindValue(stmt.get(), static_cast<int>(i), args[i])) return nullptr;
  }
  return stmt;
}

ZdDb::ErrorStatus ZdDbDataBase::run(char const* sql, const std::vector<KVData>& args,
                                    bool needRow) {
  if (!connection_) return ZdDb::eNotOpen;
  std::unique_ptr<zddb::Statement> stmt = prepareBound(sql, args);
  if (!stmt) return ZdDb::eFailed;
  bool hasColumns = stmt->columnCount() > 0;
  zddb::StepResult result = stmt->step();
  if (result == zddb::StepResult::kError) return ZdDb::eFailed;
  if (needRow && hasColumns && result != zddb::StepResult::kRow) return ZdDb::eNoRow;
  return ZdDb::eOk;
}

ZdDb::ErrorStatus ZdDbDataBase::exeSql(char const* sql, const std::vector<KVData>& args) {
  return run(sql, args, false);
}

ZdDb::ErrorStatus ZdDbDataBase::pureSql(char const* sql, const std::vector<KVData>& args) {
  return run(sql, args, true);
}

ZdDb::ErrorStatus ZdDbDataBase::selectSql(char const* sql, ZdRxClass* cls,
                                          std::vector<std::unique_ptr<ZdDbObject>>& objects,
                                          int, const std::vector<KVData>& args) {
  size_t before = objects.size();
  ZdDb::ErrorStatus status = selectEach(
      sql, cls, ZdDbFilter::BlobReading::kCopy,
      [&objects](std::unique_ptr<ZdDbObject>& object) {
        objects.push_back(std::move(object));
        return true;
      },
      args);
  if (status != ZdDb::eOk) return status;
  return objects.size() > before ? ZdDb::eOk : ZdDb::eNoRow;
}

ZdDb::ErrorStatus ZdDbDataBase::selectEach(char const* sql, ZdRxClass* cls,
                                           ZdDbFilter::BlobReading blobs,
                                           const RowVisitor& visit,
                                           const std::vector<KVData>& args) {
  if (!connection_) return ZdDb::eNotOpen;
  if (cls == nullptr) return ZdDb::eFailed;
  std::unique_ptr<zddb::Statement> stmt = prepareBound(sql, args);
  if (!stmt) return ZdDb::eFailed;
  // Rows are read with a filter of their own, so that a visitor may write
  // through the database's filter meanwhile.
  ZdDbFilter reader(dbType_);
  reader.attach(connection_.get());
  for (;;) {
    zddb::StepResult result = stmt->step();
    if (result == zddb::StepResult::kDone) return ZdDb::eOk;
    if (result == zddb::StepResult::kError) return ZdDb::eFailed;
    std::unique_ptr<ZdRxObject> made(cls->create());
    auto* dbObject = dynamic_cast<ZdDbObject*>(made.get());
    if (dbObject == nullptr) return ZdDb::eFailed;
    made.release();
    std::unique_ptr<ZdDbObject> object(dbObject);
    reader.beginRead(stmt.get(), blobs);
    ZdDb::ErrorStatus status = object->readFields(&reader);
    reader.endRead();
    if (status != ZdDb::eOk) return status;
    if (!visit(object)) return ZdDb::eOk;
  }
}

ZdDb::ErrorStatus ZdDbDataBase::selectSql(char const* sql, const std::vector<KVParams>& columns,
                                          std::vector<std::vector<KVParams>>& rows,
                                          const std::vector<KVData>& args) {
  if (!connection_) return ZdDb::eNotOpen;
  std::unique_ptr<zddb::Statement> stmt = prepareBound(sql, args);
  if (!stmt) return ZdDb::eFailed;
  std::vector<int> indexes;
  size_t before = rows.size();
  for (;;) {
    zddb::StepResult result = stmt->step();
    if (result == zddb::StepResult::kError) return ZdDb::eFailed;
    if (result == zddb::StepResult::kDone) break;
    if (indexes.empty()) {
      for (const KVParams& column : columns) indexes.push_back(findColumn(stmt.get(), column.name));
    }
    std::vector<KVParams> row;
    for (size_t i = 0; i < columns.size(); ++i) {
      KVParams cell{columns[i].name, columns[i].second, {}};
      if (indexes[i] >= 0) cell.value = columnValue(stmt.get(), indexes[i], columns[i].value.type());
      row.push_back(std::move(cell));
    }
    rows.push_back(std::move(row));
  }
  return rows.size() > before ? ZdDb::eOk : ZdDb::eNoRow;
}

namespace {

struct SourceColumn {
  std::string name;
  zddb::FieldKind kind;
  bool isKey;
};

bool readSourceColumns(zddb::Connection* source, const std::string& table,
                       std::vector<SourceColumn>* columns) {
  auto stmt = source->prepare("SELECT name, type, pk FROM pragma_table_info(?) ORDER BY cid");
  if (!stmt || !stmt->bindText(0, table)) return false;
  for (;;) {
    zddb::StepResult r = stmt->step();
    if (r == zddb::StepResult::kDone) return !columns->empty();
    if (r == zddb::StepResult::kError) return false;
    columns->push_back({stmt->columnBytes(0), kindOfDeclaredType(stmt->columnBytes(1)),
                        stmt->columnInt(2) == 1});
  }
}

bool copyValue(zddb::Statement* from, int column, zddb::Statement* to, int parameter) {
  switch (from->columnType(column)) {
    case zddb::ColumnType::kNull: return to->bindNull(parameter);
    case zddb::ColumnType::kInteger: return to->bindInt(parameter, from->columnInt(column));
    case zddb::ColumnType::kDouble: return to->bindDouble(parameter, from->columnDouble(column));
    case zddb::ColumnType::kText: return to->bindText(parameter, from->columnBytes(column));
    case zddb::ColumnType::kBlob: {
      std::string bytes = from->columnBytes(column);
      return to->bindBlob(parameter, bytes.data(), bytes.size());
    }
  }
  return false;
}

// Makes `table` with `columns` on `connection` unless it exists.
ZdDb::ErrorStatus createCloneTarget(zddb::Connection* connection, const std::string& table,
                                    const std::vector<SourceColumn>& columns, std::string* error) {
  std::string definitions;
  for (const SourceColumn& c : columns) {
    if (!zddb::isPlainIdentifier(c.name)) {
      *error = "not a plain column name: " + c.name;
      return ZdDb::eBadName;
    }
    if (!definitions.empty()) definitions += ", ";
    definitions += connection->columnDefinition({c.name, c.kind, 0}, c.isKey);
  }
  if (connection->tableExists(table) ||
      connection->execute("CREATE TABLE " + zddb::quoteIdentifier(table) + " (" + definitions +
                           ")" + connection->tableOptions()))
    return ZdDb::eOk;
  return ZdDb::eFailed;
}

// True when `names` holds `name`, letter case aside.
bool containsName(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (strcasecmp(n.c_str(), name.c_str()) == 0) return true;
  }
  return false;
}

// Runs `insert` once for every row of `select`, with the row's values.
bool copyRows(zddb::Statement* select, zddb::Statement* insert) {
  const int n = select->columnCount();
  for (;;) {
    zddb::StepResult r = select->step();
    if (r == zddb::StepResult::kDone) return true;
    if (r == zddb::StepResult::kError) return false;
    for (int i = 0; i < n; ++i) {
      if (!copyValue(select, i, insert, i)) return false;
    }
    if (insert->step() == zddb::StepResult::kError || !insert->reset()) return false;
  }
}

}  // namespace

ZdDb::ErrorStatus ZdDbDataBase::dbClone(ZdDbDataBase* source, bool, void*) {
  if (!connection_ || source == nullptr || source->connection() == nullptr) return ZdDb::eNotOpen;
  zddb::Connection* from = source->connection();
  if (from->dialect() != zddb::Dialect::kSqlite) return ZdDb::eFailed;
  std::vector<std::string> tables;
  if (!from->listTables(&tables)) return ZdDb::eFailed;
  for (const std::string& table : tables) {
    ZdDb::ErrorStatus status = cloneTable(from, table);
    if (status != ZdDb::eOk) return status;
  }
  return ZdDb::eOk;
}


ZdDb::ErrorStatus ZdDbDataBase::cloneTable(zddb::Connection* from, const std::string& table) {
  if (!zddb::isPlainIdentifier(table)) {
    error_ = "not a plain table name: " + table;
    return ZdDb::eBadName;
  }
  std::vector<SourceColumn> columns;
  if (!readSourceColumns(from, table, &columns)) return ZdDb::eFailed;
  ZdDb::ErrorStatus created = createCloneTarget(connection_.get(), table, columns, &error_);
  if (created != ZdDb::eOk) return created;
  // Only the columns both sides have are copied.
  std::vector<std::string> targetColumns;
  if (!connection_->listColumns(table, &targetColumns)) return ZdDb::eFailed;
  std::string names, marks;
  for (const SourceColumn& c : columns) {
    if (!containsName(targetColumns, c.name)) continue;
    names += (names.empty() ? "" : ", ") + zddb::quoteIdentifier(c.name);
    marks += marks.empty() ? "?" : ", ?";
  }
  if (names.empty()) return ZdDb::eOk;
  const std::string quoted = zddb::quoteIdentifier(table);
  auto select = from->prepare("SELECT " + names + " FROM " + quoted);
  auto insert = connection_->prepare("REPLACE INTO " + quoted + " (" + names + ") VALUES (" + marks + ")");
  if (!select || !insert) return ZdDb::eFailed;
  return copyRows(select.get(), insert.get()) ? ZdDb::eOk : ZdDb::eFailed;
}

ZdDb::ErrorStatus ZdDbDataBase::setDbkey(char const* key, const std::string&) {
  if (!connection_) return ZdDb::eNotOpen;
  if (key == nullptr || *key == '\0') return ZdDb::eFailed;
  dbKey_ = unescapeKeyText(key);
  return ZdDb::eOk;
}

std::string ZdDbDataBase::getDbSeed() {
  if (!connection_ || connection_->dialect() != zddb::Dialect::kSqlite) return {};
  auto stmt = connection_->prepare("PRAGMA schema_version");
  if (!stmt || stmt->step() != zddb::StepResult::kRow) return {};
  return std::to_string(stmt->columnInt(0));
}

ZdDbDataBase* mallocDatabase(int dbType) { return new ZdDbDataBase(dbType); }

void freeDatabase(ZdDbDataBase* database) { delete database; }

namespace {

struct SystemSettings {
  std::string dbLogFile;
  int defDbtype = 0;
  std::string projectConstr;
};

SystemSettings& settings() {
  static SystemSettings s;
  return s;
}

}  // namespace

void ZdDbSystem::set_db_logfile(char const* path, int) { settings().dbLogFile = path ? path : ""; }
const std::string& ZdDbSystem::dbLogFile() { return settings().dbLogFile; }
void ZdDbSystem::setDefDbtype(int type) { settings().defDbtype = type; }
int ZdDbSystem::defDbtype() { return settings().defDbtype; }
void ZdDbSystem::setProjectConstr(char const* text) { settings().projectConstr = text ? text : ""; }
const std::string& ZdDbSystem::projectConstr() { return settings().projectConstr; }
