#include "package/sqlite_connection.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "package/sqlite_handles.h"
#include "platform/env.h"
#include "platform/path_text.h"

namespace zddb {
namespace {

constexpr int kBusyTimeoutMs = 10000;

class SqliteConnection;

class SqliteStatement final : public Statement {
 public:
  SqliteStatement(SqliteConnection* connection, SqliteStmt stmt)
      : connection_(connection), stmt_(std::move(stmt)) {}

  bool bindNull(int index) override { return ok(sqlite3_bind_null(stmt_.get(), index + 1)); }
  bool bindText(int index, std::string_view text) override {
    return ok(sqlite3_bind_text64(stmt_.get(), index + 1, text.data(), text.size(),
                                  SQLITE_TRANSIENT, SQLITE_UTF8));
  }
  bool bindInt(int index, int64_t value) override {
    return ok(sqlite3_bind_int64(stmt_.get(), index + 1, value));
  }
  bool bindDouble(int index, double value) override {
    return ok(sqlite3_bind_double(stmt_.get(), index + 1, value));
  }
  bool bindBlob(int index, const void* data, size_t size) override {
    // A zero-length blob is stored as an empty blob, not as NULL.
    static const char kEmpty = 0;
    return ok(sqlite3_bind_blob64(stmt_.get(), index + 1, size > 0 ? data : &kEmpty, size,
                                  SQLITE_TRANSIENT));
  }
  bool bindBlobRef(int index, const void* data, size_t size) override {
    static const char kEmpty = 0;
    return ok(sqlite3_bind_blob64(stmt_.get(), index + 1, size > 0 ? data : &kEmpty, size,
                                  SQLITE_STATIC));
  }
  bool bindBlobSource(int index, BlobSource* source, const BlobLocation& where) override;

  StepResult step() override;
  bool reset() override {
    pending_.clear();
    return ok(sqlite3_reset(stmt_.get()));
  }

  int columnCount() override { return sqlite3_column_count(stmt_.get()); }
  std::string columnName(int index) override {
    const char* name = sqlite3_column_name(stmt_.get(), index);
    return name != nullptr ? name : "";
  }
  ColumnType columnType(int index) override {
    switch (sqlite3_column_type(stmt_.get(), index)) {
      case SQLITE_INTEGER: return ColumnType::kInteger;
      case SQLITE_FLOAT: return ColumnType::kDouble;
      case SQLITE_TEXT: return ColumnType::kText;
      case SQLITE_BLOB: return ColumnType::kBlob;
      default: return ColumnType::kNull;
    }
  }
  int64_t columnInt(int index) override { return sqlite3_column_int64(stmt_.get(), index); }
  bool columnView(int index, const char** data, size_t* size) override {
    *data = static_cast<const char*>(sqlite3_column_blob(stmt_.get(), index));
    *size = static_cast<size_t>(sqlite3_column_bytes(stmt_.get(), index));
    return true;
  }
  double columnDouble(int index) override { return sqlite3_column_double(stmt_.get(), index); }
  std::string columnBytes(int index) override {
    const void* data = sqlite3_column_blob(stmt_.get(), index);
    int n = sqlite3_column_bytes(stmt_.get(), index);
    return data != nullptr ? std::string(static_cast<const char*>(data), static_cast<size_t>(n))
                           : std::string();
  }

 private:
  bool ok(int rc);

  struct PendingBlob {
    BlobSource* source;
    BlobLocation where;
  };

  SqliteConnection* connection_;
  SqliteStmt stmt_;
  std::vector<PendingBlob> pending_;
};

// One advisory lock file per lock name, next to the database.
// The text in the lock file `file` of `tree`: who holds the lock.
std::string readHolderText(ovix::DirectoryTree& tree, const std::string& file) {
  std::unique_ptr<ovix::SequentialFile> in;
  if (!tree.openForReading(file, &in)) return {};
  char text[1024];
  size_t got = 0;
  if (!in->read(text, sizeof text - 1, &got)) return {};
  return std::string(text, got);
}

class SqliteConnection final : public Connection {
 public:
  SqliteConnection(SqliteDb db, std::string path) : db_(std::move(db)), path_(std::move(path)) {}

  Dialect dialect() const override { return Dialect::kSqlite; }
  const std::string& lastError() const override { return error_; }

  bool execute(std::string_view sql) override {
    std::string text(sql);
    char* message = nullptr;
    int rc = sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      error_ = message != nullptr ? message : sqlite3_errstr(rc);
      sqlite3_free(message);
      return false;
    }
    return true;
  }

  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    SqliteStmt stmt(raw);
    if (rc != SQLITE_OK || raw == nullptr) {
      setError(rc == SQLITE_OK ? "empty statement" : sqlite3_errmsg(db_.get()));
      return nullptr;
    }
    return std::make_unique<SqliteStatement>(this, std::move(stmt));
  }

  bool beginTransaction() override { return execute("BEGIN IMMEDIATE"); }
  bool commitTransaction() override { return execute("COMMIT"); }
  bool rollbackTransaction() override { return execute("ROLLBACK"); }
  // Deferred: the shared lock is taken at the first read and kept.
  bool beginReadTransaction() override { return execute("BEGIN"); }
  bool endReadTransaction() override { return execute("COMMIT"); }

  bool tableExists(const std::string& table) override {
    auto stmt = prepare("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?");
    return stmt && stmt->bindText(0, table) && stmt->step() == StepResult::kRow;
  }

  bool listTables(std::vector<std::string>* tables) override {
    tables->clear();
    auto stmt = prepare(
        "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite\\_%' "
        "ESCAPE '\\' ORDER BY rowid");
    return stmt && collectFirstColumn(stmt.get(), tables);
  }

  bool listColumns(const std::string& table, std::vector<std::string>* columns) override {
    columns->clear();
    auto stmt = prepare("SELECT name FROM pragma_table_info(?) ORDER BY cid");
    return stmt && stmt->bindText(0, table) && collectFirstColumn(stmt.get(), columns);
  }

  std::string columnDefinition(const FieldSpec& field, bool isKey) const override {
    std::string def = quoteIdentifier(field.name);
    if (isKey) return def + " TEXT NOT NULL PRIMARY KEY";
    switch (field.kind) {
      case FieldKind::kText: return def + " TEXT";
      case FieldKind::kFixedText: return def + " VARCHAR(" + std::to_string(field.length) + ")";
      case FieldKind::kInteger:
      case FieldKind::kBool: return def + " INTEGER";
      case FieldKind::kLongBlob: return def + " BLOB";
    }
    return def;
  }

  std::string tableOptions() const override { return ""; }

  uint64_t maxValueBytes() override {
    return static_cast<uint64_t>(sqlite3_limit(db_.get(), SQLITE_LIMIT_LENGTH, -1));
  }

  bool readBlob(const BlobLocation& where, BlobSink* sink) override;
  int64_t blobSize(const BlobLocation& where) override;
  std::unique_ptr<BlobSource> openBlob(const BlobLocation& where) override;
  bool writeBlob(const BlobLocation& where, BlobSource* source);

  bool lockNamed(const std::string& name, int seconds, const std::string& holderText,
                 std::string* holder) override;
  bool unlockNamed(const std::string& name) override {
    return locks_.erase(name) > 0;  // the lock goes with its object
  }

  void setError(std::string text) { error_ = std::move(text); }
  sqlite3* db() { return db_.get(); }

 private:
  bool collectFirstColumn(Statement* stmt, std::vector<std::string>* out) {
    for (;;) {
      StepResult r = stmt->step();
      if (r == StepResult::kDone) return true;
      if (r == StepResult::kError) return false;
      out->push_back(stmt->columnBytes(0));
    }
  }

  // The rowid of the row at `where`; 0 when there is none.
  int64_t rowidOf(const BlobLocation& where, bool* isNull);
  enum class BlobOpen { kOpen, kNull, kFailed };
  // Opens the blob at `where` for reading or writing into *blob; kNull when
  // the value is NULL, kFailed (lastError set) when the row is missing.
  BlobOpen openBlobHandle(const BlobLocation& where, bool write, SqliteBlob* blob);
  bool checkNames(const BlobLocation& where) {
    if (isPlainIdentifier(where.table) && isPlainIdentifier(where.column) &&
        isPlainIdentifier(where.keyColumn))
      return true;
    setError("not a plain table or column name: " + where.table + "." + where.column);
    return false;
  }
  // The folder and file name of the lock file of `name`: beside the
  // database.
  std::string lockDirectory() const;
  static std::string lockFileName(const std::string& name);

  SqliteDb db_;
  // Statements of rowidOf by their text; destroyed before db_.
  std::map<std::string, std::unique_ptr<Statement>> rowidLookups_;
  std::string path_;
  std::string error_;
  std::map<std::string, std::unique_ptr<ovix::TreeLock>> locks_;
};

bool SqliteStatement::ok(int rc) {
  if (rc == SQLITE_OK) return true;
  connection_->setError(sqlite3_errmsg(connection_->db()));
  return false;
}

bool SqliteStatement::bindBlobSource(int index, BlobSource* source, const BlobLocation& where) {
  if (source == nullptr) return bindNull(index);
  // The row gets a zero-filled blob of the right size; step() then fills it
  // in chunks through incremental blob I/O.
  if (!ok(sqlite3_bind_zeroblob64(stmt_.get(), index + 1,
                                  static_cast<sqlite3_uint64>(source->size()))))
    return false;
  pending_.push_back({source, where});
  return true;
}

StepResult SqliteStatement::step() {
  int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) return StepResult::kRow;
  if (rc != SQLITE_DONE) {
    connection_->setError(sqlite3_errmsg(connection_->db()));
    return StepResult::kError;
  }
  std::vector<PendingBlob> pending = std::move(pending_);
  pending_.clear();
  for (PendingBlob& blob : pending) {
    if (blob.source->size() > 0 && !connection_->writeBlob(blob.where, blob.source))
      return StepResult::kError;
  }
  return StepResult::kDone;
}

int64_t SqliteConnection::rowidOf(const BlobLocation& where, bool* isNull) {
  // typeof() reads only the record header; "IS NULL" would load the value.
  std::string sql = "SELECT rowid, typeof(" + quoteIdentifier(where.column) + ")='null' FROM " +
                    quoteIdentifier(where.table) + " WHERE " + quoteIdentifier(where.keyColumn) +
                    "=?";
  // Kept prepared: a package's files are looked up one after another.
  std::unique_ptr<Statement>& stmt = rowidLookups_[sql];
  if (!stmt) stmt = prepare(sql);
  if (!stmt) {
    rowidLookups_.erase(sql);
    return 0;
  }
  if (!stmt->reset() || !stmt->bindText(0, where.keyValue)) return 0;
  StepResult found = stmt->step();
  const bool null = found == StepResult::kRow && stmt->columnInt(1) != 0;
  const int64_t rowid = found == StepResult::kRow ? stmt->columnInt(0) : 0;
  stmt->reset();  // an active statement would keep the database locked
  if (found != StepResult::kRow) {
    if (error_.empty()) setError("no row " + where.keyValue + " in " + where.table);
    return 0;
  }
  *isNull = null;
  return rowid;
}

SqliteConnection::BlobOpen SqliteConnection::openBlobHandle(const BlobLocation& where, bool write,
                                                            SqliteBlob* blob) {
  if (!checkNames(where)) return BlobOpen::kFailed;
  bool isNull = false;
  error_.clear();
  int64_t rowid = rowidOf(where, &isNull);
  if (rowid == 0 && !error_.empty()) return BlobOpen::kFailed;
  if (isNull) return BlobOpen::kNull;
  sqlite3_blob* raw = nullptr;
  int rc = sqlite3_blob_open(db_.get(), "main", where.table.c_str(), where.column.c_str(), rowid,
                             write ? 1 : 0, &raw);
  blob->reset(raw);
  if (rc != SQLITE_OK) {
    setError(sqlite3_errmsg(db_.get()));
    return BlobOpen::kFailed;
  }
  return BlobOpen::kOpen;
}

bool SqliteConnection::writeBlob(const BlobLocation& where, BlobSource* source) {
  SqliteBlob blob;
  if (openBlobHandle(where, true, &blob) != BlobOpen::kOpen) return false;
  int rc = SQLITE_OK;
  const int64_t size = sqlite3_blob_bytes(blob.get());
  std::vector<char> chunk(kBlobChunkBytes);
  int64_t offset = 0;
  while (offset < size) {
    size_t want = static_cast<size_t>(std::min<int64_t>(size - offset, static_cast<int64_t>(chunk.size())));
    size_t got = 0;
    if (!source->read(chunk.data(), want, &got) || got == 0) {
      setError("the data ended after " + std::to_string(offset) + " of " + std::to_string(size) +
               " bytes");
      return false;
    }
    rc = sqlite3_blob_write(blob.get(), chunk.data(), static_cast<int>(got), static_cast<int>(offset));
    if (rc != SQLITE_OK) {
      setError(sqlite3_errmsg(db_.get()));
      return false;
    }
    offset += static_cast<int64_t>(got);
  }
  return true;
}

bool SqliteConnection::readBlob(const BlobLocation& where, BlobSink* sink) {
  std::unique_ptr<BlobSource> source = openBlob(where);
  if (!source) return false;
  std::vector<char> chunk(kBlobChunkBytes);
  for (;;) {
    size_t got = 0;
    if (!source->read(chunk.data(), chunk.size(), &got)) {
      setError(sqlite3_errmsg(db_.get()));
      return false;
    }
    if (got == 0) return true;
    if (!sink->write(chunk.data(), got)) {
      setError("the blob's bytes could not be written out");
      return false;
    }
  }
}

// Reads an open blob handle front to back.
class SqliteBlobSource final : public BlobSource {
 public:
  explicit SqliteBlobSource(SqliteBlob blob)
      : blob_(std::move(blob)), size_(sqlite3_blob_bytes(blob_.get())) {}
  int64_t size() const override { return size_; }
  bool read(char* buf, size_t n, size_t* got) override {
    *got = 0;
    int want = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(n), size_ - offset_));
    if (want <= 0) return true;
    if (sqlite3_blob_read(blob_.get(), buf, want, static_cast<int>(offset_)) != SQLITE_OK)
      return false;
    offset_ += want;
    *got = static_cast<size_t>(want);
    return true;
  }

 private:
  SqliteBlob blob_;
  int64_t size_;
  int64_t offset_ = 0;
};

// An empty or NULL value.
class EmptyBlobSource final : public BlobSource {
 public:
  int64_t size() const override { return 0; }
  bool read(char*, size_t, size_t* got) override {
    *got = 0;
    return true;
  }
};

std::unique_ptr<BlobSource> SqliteConnection::openBlob(const BlobLocation& where) {
  SqliteBlob blob;
  switch (openBlobHandle(where, false, &blob)) {
    case BlobOpen::kNull: return std::make_unique<EmptyBlobSource>();
    case BlobOpen::kOpen: return std::make_unique<SqliteBlobSource>(std::move(blob));
    case BlobOpen::kFailed: break;
  }
  return nullptr;
}

int64_t SqliteConnection::blobSize(const BlobLocation& where) {
  if (!checkNames(where)) return -1;
  std::string sql = "SELECT length(" + quoteIdentifier(where.column) + ") FROM " +
                    quoteIdentifier(where.table) + " WHERE " + quoteIdentifier(where.keyColumn) +
                    "=?";
  auto stmt = prepare(sql);
  if (!stmt || !stmt->bindText(0, where.keyValue) || stmt->step() != StepResult::kRow) return -1;
  return stmt->columnInt(0);
}

std::string SqliteConnection::lockDirectory() const {
  std::string dir = ovix::parentPath(path_);
  return dir.empty() ? "." : dir;
}

std::string SqliteConnection::lockFileName(const std::string& name) {
  // Lock names are arbitrary texts (project names); the file name uses
  // their hex form so that any name makes a valid, distinct file name.
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : name) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  return ".ovixlock-" + hex.substr(0, 200);
}

bool SqliteConnection::lockNamed(const std::string& name, int seconds, const std::string& holderText,
                                 std::string* holder) {
  if (holder != nullptr) holder->clear();
  if (locks_.count(name) > 0) return true;
  ovix::Env& env = *ovix::Env::Default();
  const std::string dir = lockDirectory();
  const std::string file = lockFileName(name);
  std::unique_ptr<ovix::DirectoryTree> tree;
  if (!env.openTree(dir, &tree)) {
    setError("cannot open the lock folder " + dir + ": " + ovix::Env::lastError());
    return false;
  }
  std::unique_ptr<ovix::TreeLock> lock;
  ovix::LockAttempt attempt = tree->tryLock(file, &lock);
  for (int waited = 0; attempt == ovix::LockAttempt::kBusy && waited < seconds * 20; ++waited) {
    env.sleepMilliseconds(50);
    attempt = tree->tryLock(file, &lock);
  }
  if (attempt == ovix::LockAttempt::kFailed) {
    setError("cannot lock " + ovix::joinPath(dir, file) + ": " + ovix::Env::lastError());
    return false;
  }
  if (attempt == ovix::LockAttempt::kBusy) {
    std::string who = readHolderText(*tree, file);
    if (who.empty()) who = "another process";
    setError("the lock " + name + " is held by " + who + "; waited " + std::to_string(seconds) +
             " s");
    if (holder != nullptr) *holder = who;
    return false;
  }
  // Whoever waits for this lock reads who holds it from the file.
  std::string who = env.processDescription();
  if (!holderText.empty()) who = holderText + " (" + who + ")";
  lock->setHolderText(who);
  locks_[name] = std::move(lock);
  return true;
}

}  // namespace

std::unique_ptr<Connection> openSqliteConnection(const std::string& path, OpenMode mode,
                                                 std::string* error) {
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case OpenMode::kMustExist: flags |= SQLITE_OPEN_READWRITE; break;
    case OpenMode::kCreate: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
    case OpenMode::kReadOnly: flags |= SQLITE_OPEN_READONLY; break;
  }
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  SqliteDb db(raw);
  if (rc != SQLITE_OK) {
    *error = "cannot open " + path + ": " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return nullptr;
  }
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);

  // Reading the schema tells a SQLite file from anything else.
  char* message = nullptr;
  rc = sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    *error = path + " is not a usable database: " + (message != nullptr ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return nullptr;
  }
  if (mode == OpenMode::kCreate) {
    // Large pages make big blobs cheap; effective only on a new, empty file.
    sqlite3_exec(db.get(), "PRAGMA page_size=65536", nullptr, nullptr, nullptr);
  }
  return std::make_unique<SqliteConnection>(std::move(db), path);
}

}  // namespace zddb
