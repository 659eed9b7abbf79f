// Inserting many small records with few statements: rows are gathered and
// sent several to one INSERT, so a server is not asked once per row.

#ifndef OVIX_PACKAGE_BATCH_INSERT_H_
#define OVIX_PACKAGE_BATCH_INSERT_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "package/database.h"
#include "package/db_filter.h"

// Collects the fields and values that `record` writes to the table of
// `className` in `database`, in its writeFields order.  False when the
// record has no main key or the table name is not plain.
bool collectRecordValues(ZdDbDataBase* database, char const* className, ZdDbObject* record,
                         std::vector<zddb::FieldSpec>* fields, std::vector<CollectedValue>* values);

class BatchInserter {
 public:
  // Rows for `table` with `fields`; one statement carries at most
  // `maxBytes` of values (and never more parameters than engines allow).
  BatchInserter(zddb::Connection* connection, std::string table,
                std::vector<zddb::FieldSpec> fields, size_t maxBytes);
  ~BatchInserter();

  // Adds one row (values in field order, none of them a stream); sends the
  // gathered rows when the next would not fit.  False when a send failed.
  bool add(std::vector<CollectedValue> row);
  // Sends the rows gathered so far.
  bool flush();
  const std::string& lastError() const { return error_; }
  size_t rowsSent() const { return sent_; }

 private:
  zddb::Statement* statementFor(size_t rows);

  zddb::Connection* connection_;
  std::string table_;
  std::vector<zddb::FieldSpec> fields_;
  size_t maxBytes_;
  size_t maxRows_;
  std::vector<std::vector<CollectedValue>> rows_;
  size_t bytes_ = 0;
  size_t sent_ = 0;
  // One statement at a time: a kept statement holds the bytes last bound
  // to it, so keeping one per batch size would hold many batches' bytes.
  std::unique_ptr<zddb::Statement> statement_;
  size_t statementRows_ = 0;
  std::string error_;
};

#endif  // OVIX_PACKAGE_BATCH_INSERT_H_
