#include "package/db_filter.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "package/server_address.h"

namespace {

char* heapCopy(const std::string& bytes) {
  char* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
  std::memcpy(copy, bytes.data(), bytes.size());
  copy[bytes.size()] = '\0';
  return copy;
}

}  // namespace

std::string unescapeKeyText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
  }
  return out;
}

// ---- ZdDbHelper --------------------------------------------------------

ZdDb::ErrorStatus ZdDbHelper::openDB(char const* connectionText, int /*mode*/) {
  zddb::ConnectionTarget target = zddb::splitConnectionText(connectionText);
  server_ = zddb::openServer(target.address, target.port, &error_);
  if (!server_) return ZdDb::eNotOpen;
  std::unique_ptr<zddb::Connection> connection = server_->connect(target.database);
  if (!connection) {
    error_ = server_->lastError();
    return ZdDb::eNotOpen;
  }
  filter_->adopt(std::move(connection));
  return ZdDb::eOk;
}

bool ZdDbHelper::databaseExists(const std::string& name) {
  return server_ != nullptr && server_->databaseExists(name);
}

ZdDb::ErrorStatus ZdDbHelper::createDatabase(const std::string& name) {
  if (server_ == nullptr) return ZdDb::eNotOpen;
  if (server_->createDatabase(name)) return ZdDb::eOk;
  error_ = server_->lastError();
  return ZdDb::eFailed;
}

ZdDb::ErrorStatus ZdDbHelper::prepareSql(char const* text) {
  zddb::Connection* connection = filter_->connection();
  if (connection == nullptr) return ZdDb::eNotOpen;
  if (text == nullptr || *text == '\0') return ZdDb::eFailed;
  if (statement_ && statementConnection_ == connection && statementText_ == text)
    return statement_->reset() ? ZdDb::eOk : ZdDb::eFailed;
  dropStatement();
  statement_ = connection->prepare(text);
  if (!statement_) return ZdDb::eFailed;
  statementText_ = text;
  statementConnection_ = connection;
  return ZdDb::eOk;
}

ZdDb::ErrorStatus ZdDbHelper::stepSql() {
  if (!statement_) return ZdDb::eFailed;
  if (filter_->statementKind() == ZdDbFilter::kUpdate) {
    // The key of an update is the last parameter, after every field.
    int keyIndex = static_cast<int>(filter_->fields().size());
    if (!statement_->bindText(keyIndex, filter_->boundKey())) return ZdDb::eFailed;
  }
  return statement_->step() == zddb::StepResult::kError ? ZdDb::eFailed : ZdDb::eOk;
}

void ZdDbHelper::finalizeSql() {
  if (statement_ && !statement_->reset()) dropStatement();
}

void ZdDbHelper::dropStatement() {
  statement_.reset();
  statementText_.clear();
  statementConnection_ = nullptr;
}

// ---- ZdDbFilter --------------------------------------------------------

ZdDbFilter::ZdDbFilter(int dbType) : dbType_(dbType) {}

ZdDbFilter::~ZdDbFilter() {
  runner_.dropStatement();  // statements die before their connection
}

void ZdDbFilter::adopt(std::unique_ptr<zddb::Connection> connection) {
  runner_.dropStatement();
  owned_ = std::move(connection);
  connection_ = owned_.get();
}

void ZdDbFilter::setMainKey(char const* name, zddb::FieldKind kind) {
  mainKey_ = name != nullptr ? name : "";
  mainKeyKind_ = kind;
}

void ZdDbFilter::setTable(char const* name) {
  table_ = name != nullptr ? name : "";
  if (!zddb::isPlainIdentifier(table_)) status_ = ZdDb::eBadName;
}

void ZdDbFilter::setStatementKind(int kind) {
  kind_ = kind;
  status_ = zddb::isPlainIdentifier(table_) ? ZdDb::eOk : ZdDb::eBadName;
  fields_.clear();
  keyText_.clear();
}

void ZdDbFilter::setPass(int pass) {
  pass_ = pass;
  bindIndex_ = 0;
  collected_.clear();
}

void ZdDbFilter::setKeyId(int64_t id) { keyText_ = std::to_string(id); }

void ZdDbFilter::setKeyValue(const KVData& value) {
  std::string text = value.toString();
  keyText_ = dbType_ == ZdDb::kServer ? unescapeKeyText(text) : text;
}

void ZdDbFilter::resetFields() {
  if (pass_ == 0) fields_.clear();
  bindIndex_ = 0;
}

std::string ZdDbFilter::statementText() const {
  if (fields_.empty() || connection_ == nullptr || !zddb::isPlainIdentifier(table_)) return {};
  const std::string table = zddb::quoteIdentifier(table_);
  std::string names, values;
  for (const zddb::FieldSpec& field : fields_) {
    bool isKey = field.name == mainKey_;
    if (!names.empty()) {
      names += ", ";
      values += ", ";
    }
    switch (kind_) {
      case kCreateTable:
        names += connection_->columnDefinition(field, isKey);
        break;
      case kUpdate:
        names += zddb::quoteIdentifier(field.name) + "=?";
        break;
      default:
        names += zddb::quoteIdentifier(field.name);
        values += "?";
        break;
    }
  }
  switch (kind_) {
    case kCreateTable:
      return "CREATE TABLE IF NOT EXISTS " + table + " (" + names + ")" +
             connection_->tableOptions();
    case kUpdate:
      return "UPDATE " + table + " SET " + names + " WHERE " + zddb::quoteIdentifier(mainKey_) +
             "=?";
    case kInsert:
      return "INSERT INTO " + table + " (" + names + ") VALUES (" + values + ")";
    default:
      return {};
  }
}

ZdDb::ErrorStatus ZdDbFilter::execute(char const* sql) {
  if (connection_ == nullptr) return ZdDb::eNotOpen;
  if (sql == nullptr || *sql == '\0') return ZdDb::eFailed;
  return connection_->execute(sql) ? ZdDb::eOk : ZdDb::eFailed;
}

int ZdDbFilter::nextField(char const* name, zddb::FieldKind kind, int length) {
  // An update never rewrites its key: the key selects the row.
  if (kind_ == kUpdate && mainKey_ == name) return -1;
  if (pass_ == 0) {
    fields_.push_back({name, kind, length});
    return -1;
  }
  return bindIndex_++;
}

ZdDb::ErrorStatus ZdDbFilter::writeString(char const* name, char const* text) {
  return writeString(name, text, 0, 0);
}

ZdDb::ErrorStatus ZdDbFilter::writeString(char const* name, char const* text, int length,
                                          int typeCode) {
  if (name == nullptr) return status_ = ZdDb::eFailed;
  zddb::FieldKind kind = typeCode == kFieldCodeString && length > 0 ? zddb::FieldKind::kFixedText
                                                                    : zddb::FieldKind::kText;
  int index = nextField(name, kind, length);
  if (index < 0 || pass_ == 0) return status_;
  if (pass_ == 2) {
    CollectedValue value;
    if (text != nullptr) {
      value.kind = CollectedValue::kText;
      value.bytes = text;
    }
    collected_.push_back(std::move(value));
    return ZdDb::eOk;
  }
  zddb::Statement* stmt = runner_.statement();
  if (stmt == nullptr) return status_ = ZdDb::eFailed;
  bool ok = text != nullptr ? stmt->bindText(index, text) : stmt->bindNull(index);
  return ok ? ZdDb::eOk : (status_ = ZdDb::eFailed);
}

ZdDb::ErrorStatus ZdDbFilter::writeBool(char const* name, bool value) {
  return writeInt(name, value ? 1 : 0);
}

ZdDb::ErrorStatus ZdDbFilter::writeInt(char const* name, int32_t value) {
  if (name == nullptr) return status_ = ZdDb::eFailed;
  int index = nextField(name, zddb::FieldKind::kInteger, 0);
  if (index < 0 || pass_ == 0) return status_;
  if (pass_ == 2) {
    CollectedValue collected;
    collected.kind = CollectedValue::kInt;
    collected.number = value;
    collected_.push_back(std::move(collected));
    return ZdDb::eOk;
  }
  zddb::Statement* stmt = runner_.statement();
  if (stmt == nullptr || !stmt->bindInt(index, value)) return status_ = ZdDb::eFailed;
  return ZdDb::eOk;
}

ZdDb::ErrorStatus ZdDbFilter::writeBlob(char const* name, const ZdDbBlock& block, int) {
  if (name == nullptr) return status_ = ZdDb::eFailed;
  int index = nextField(name, zddb::FieldKind::kLongBlob, 0);
  if (index < 0 || pass_ == 0) return status_;
  if (pass_ == 2) {
    CollectedValue value;
    value.kind = CollectedValue::kBytes;
    if (block.data != nullptr && block.size > 0)
      value.bytes.assign(reinterpret_cast<const char*>(block.data), static_cast<size_t>(block.size));
    collected_.push_back(std::move(value));
    return ZdDb::eOk;
  }
  zddb::Statement* stmt = runner_.statement();
  if (stmt == nullptr) return status_ = ZdDb::eFailed;
  size_t size = block.data != nullptr && block.size > 0 ? static_cast<size_t>(block.size) : 0;
  // The record outlives the statement's step, so its bytes need no copy.
  return stmt->bindBlobRef(index, block.data, size) ? ZdDb::eOk : (status_ = ZdDb::eFailed);
}

ZdDb::ErrorStatus ZdDbFilter::writeBlobSource(char const* name, zddb::BlobSource* source, int) {
  if (name == nullptr) return status_ = ZdDb::eFailed;
  int index = nextField(name, zddb::FieldKind::kLongBlob, 0);
  if (index < 0 || pass_ == 0) return status_;
  if (pass_ == 2) {
    CollectedValue value;
    value.kind = CollectedValue::kSource;
    value.source = source;
    collected_.push_back(std::move(value));
    return ZdDb::eOk;
  }
  zddb::Statement* stmt = runner_.statement();
  if (stmt == nullptr) return status_ = ZdDb::eFailed;
  if (connection_ != nullptr && source != nullptr &&
      static_cast<uint64_t>(source->size()) > connection_->maxValueBytes())
    return status_ = ZdDb::eTooLarge;
  zddb::BlobLocation where{table_, name, mainKey_, keyText_};
  return stmt->bindBlobSource(index, source, where) ? ZdDb::eOk : (status_ = ZdDb::eFailed);
}

void ZdDbFilter::beginRead(zddb::Statement* row, BlobReading blobs) {
  row_ = row;
  blobs_ = blobs;
  columns_.clear();
  int n = row->columnCount();
  for (int i = 0; i < n; ++i) columns_.emplace(row->columnName(i), i);
}

void ZdDbFilter::endRead() {
  row_ = nullptr;
  columns_.clear();
}

int ZdDbFilter::columnIndex(char const* name) {
  if (row_ == nullptr || name == nullptr) return -1;
  auto it = columns_.find(name);
  if (it != columns_.end()) return it->second;
  // Server column names compare without regard to case.
  for (const auto& [column, index] : columns_) {
    if (strcasecmp(column.c_str(), name) == 0) return index;
  }
  return -1;
}

ZdDb::ErrorStatus ZdDbFilter::readString(char const* name, char*& text) {
  text = nullptr;
  int index = columnIndex(name);
  if (index < 0) return ZdDb::eNoField;
  if (row_->columnType(index) == zddb::ColumnType::kNull) return ZdDb::eOk;
  text = heapCopy(row_->columnBytes(index));
  return ZdDb::eOk;
}

ZdDb::ErrorStatus ZdDbFilter::readBool(char const* name, bool& value) {
  int32_t number = 0;
  ZdDb::ErrorStatus status = readInt(name, number);
  value = number != 0;
  return status;
}

ZdDb::ErrorStatus ZdDbFilter::readInt(char const* name, int32_t& value) {
  value = 0;
  int index = columnIndex(name);
  if (index < 0) return ZdDb::eNoField;
  if (row_->columnType(index) == zddb::ColumnType::kNull) return ZdDb::eOk;
  value = static_cast<int32_t>(row_->columnInt(index));
  return ZdDb::eOk;
}

std::unique_ptr<zddb::BlobSource> ZdDbFilter::readBlobSource(char const* name) {
  if (blobs_ != BlobReading::kStream) return nullptr;
  int index = columnIndex(name);
  if (index < 0 || row_->columnType(index) == zddb::ColumnType::kNull) return nullptr;
  return row_->columnSource(index);
}

ZdDb::ErrorStatus ZdDbFilter::readBlob(char const* name, ZdDbBlock& block) {
  block = {};
  int index = columnIndex(name);
  const bool defer = blobs_ == BlobReading::kDefer;
  if (index < 0) return defer ? ZdDb::eOk : ZdDb::eNoField;
  if (defer || row_->columnType(index) == zddb::ColumnType::kNull) return ZdDb::eOk;
  const char* data = nullptr;
  size_t size = 0;
  if (blobsAreViews() && row_->columnView(index, &data, &size)) {
    if (size > static_cast<size_t>(INT32_MAX)) return ZdDb::eTooLarge;
    if (size == 0) return ZdDb::eOk;
    block.data = reinterpret_cast<unsigned char*>(const_cast<char*>(data));
    block.size = static_cast<int32_t>(size);
    return ZdDb::eOk;
  }
  if (blobsAreViews()) blobs_ = BlobReading::kCopy;  // the engine cannot lend
  std::string bytes = row_->columnBytes(index);
  if (bytes.empty()) return ZdDb::eOk;
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return ZdDb::eTooLarge;
  block.data = static_cast<unsigned char*>(std::malloc(bytes.size()));
  std::memcpy(block.data, bytes.data(), bytes.size());
  block.size = static_cast<int32_t>(bytes.size());
  return ZdDb::eOk;
}

std::unique_ptr<ZdDbFilter> mallocDbFilter(int dbType) {
  return std::make_unique<ZdDbFilter>(dbType);
}
