#include "package/batch_insert.h"

#include <algorithm>

namespace {

// Prepared statements of both engines take at most 32,766 parameters.
constexpr size_t kMaxParameters = 32000;
constexpr size_t kMaxRowsPerStatement = 1000;

size_t sizeOf(const std::vector<CollectedValue>& row) {
  size_t bytes = 16;
  for (const CollectedValue& v : row) bytes += v.bytes.size() + 8;
  return bytes;
}

bool bindCollected(zddb::Statement* stmt, int index, const CollectedValue& value) {
  switch (value.kind) {
    case CollectedValue::kNull: return stmt->bindNull(index);
    case CollectedValue::kText: return stmt->bindText(index, value.bytes);
    case CollectedValue::kInt: return stmt->bindInt(index, value.number);
    case CollectedValue::kBytes: return stmt->bindBlobRef(index, value.bytes.data(), value.bytes.size());
    case CollectedValue::kSource: return false;  // streams go one row at a time
  }
  return false;
}

}  // namespace

bool collectRecordValues(ZdDbDataBase* database, char const* className, ZdDbObject* record,
                         std::vector<zddb::FieldSpec>* fields, std::vector<CollectedValue>* values) {
  ZdDbFilter* filter = database != nullptr ? database->getFilter(0) : nullptr;
  if (filter == nullptr || record == nullptr || className == nullptr) return false;
  ZdRxClass* cls = record->isA();
  if (cls == nullptr) return false;
  std::string keyName;
  zddb::FieldKind keyKind;
  cls->getMainKey(&keyName, &keyKind);
  KVData key;
  if (record->getMainKeyValue(database->getDBType(), key) != ZdDb::eOk) return false;
  filter->setTable(getTableName(className).c_str());
  filter->setStatementKind(ZdDbFilter::kInsert);
  filter->setMainKey(keyName.c_str(), keyKind);
  filter->setKeyValue(key);
  filter->setPass(0);
  filter->resetFields();
  if (record->writeFields(filter) != ZdDb::eOk || filter->status() != ZdDb::eOk) return false;
  *fields = filter->fields();
  filter->setPass(2);
  record->writeFields(filter);
  *values = std::move(filter->collected());
  filter->setPass(0);
  return values->size() == fields->size();
}

BatchInserter::BatchInserter(zddb::Connection* connection, std::string table,
                             std::vector<zddb::FieldSpec> fields, size_t maxBytes)
    : connection_(connection),
      table_(std::move(table)),
      fields_(std::move(fields)),
      maxBytes_(maxBytes),
      maxRows_(std::min(kMaxRowsPerStatement, kMaxParameters / std::max<size_t>(1, fields_.size()))) {}

BatchInserter::~BatchInserter() = default;

zddb::Statement* BatchInserter::statementFor(size_t rows) {
  if (statement_ && statementRows_ == rows) {
    statement_->reset();
    return statement_.get();
  }
  statement_.reset();
  std::string names, marks = "(";
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) {
      names += ", ";
      marks += ", ";
    }
    names += zddb::quoteIdentifier(fields_[i].name);
    marks += "?";
  }
  marks += ")";
  std::string sql = "INSERT INTO " + zddb::quoteIdentifier(table_) + " (" + names + ") VALUES ";
  for (size_t r = 0; r < rows; ++r) sql += (r > 0 ? ", " : "") + marks;
  std::unique_ptr<zddb::Statement> stmt = connection_->prepare(sql);
  if (!stmt) {
    error_ = connection_->lastError();
    return nullptr;
  }
  statement_ = std::move(stmt);
  statementRows_ = rows;
  return statement_.get();
}

bool BatchInserter::add(std::vector<CollectedValue> row) {
  size_t bytes = sizeOf(row);
  if (!rows_.empty() && (rows_.size() >= maxRows_ || bytes_ + bytes > maxBytes_) && !flush())
    return false;
  bytes_ += bytes;
  rows_.push_back(std::move(row));
  return true;
}

bool BatchInserter::flush() {
  if (rows_.empty()) return true;
  zddb::Statement* stmt = statementFor(rows_.size());
  if (stmt == nullptr) return false;
  int index = 0;
  for (const auto& row : rows_) {
    for (const CollectedValue& value : row) {
      if (!bindCollected(stmt, index++, value)) {
        error_ = "a value could not be bound: " + connection_->lastError();
        return false;
      }
    }
  }
  if (stmt->step() == zddb::StepResult::kError) {
    error_ = connection_->lastError();
    return false;
  }
  sent_ += rows_.size();
  rows_.clear();
  bytes_ = 0;
  return true;
}
