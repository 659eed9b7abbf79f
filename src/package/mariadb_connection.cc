#include "package/mariadb_connection.h"

#include <errmsg.h>
#include <mysql.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <utility>

#include "platform/env.h"

namespace zddb {
namespace {

struct MysqlCloser {
  void operator()(MYSQL* mysql) const { mysql_close(mysql); }
};
struct StmtCloser {
  void operator()(MYSQL_STMT* stmt) const { mysql_stmt_close(stmt); }
};
struct ResultFreer {
  void operator()(MYSQL_RES* result) const { mysql_free_result(result); }
};

// Move-only owners of the Connector/C handles.
using MysqlHandle = std::unique_ptr<MYSQL, MysqlCloser>;
using StmtHandle = std::unique_ptr<MYSQL_STMT, StmtCloser>;
using ResultHandle = std::unique_ptr<MYSQL_RES, ResultFreer>;

using Rows = std::vector<std::vector<std::string>>;

constexpr size_t kSendChunkBytes = size_t{1} << 20;
constexpr int64_t kReadChunkBytes = int64_t{4} << 20;
constexpr unsigned kConnectTimeoutSeconds = 10;
constexpr int kKeyCharacters = 760;
// Statements whose bound values stay below this size are sent without
// asking the server for its packet limit first.
constexpr uint64_t kCheckLimitAbove = uint64_t{64} << 10;
// Bytes of an execute packet besides the values: header plus, per
// parameter, type and length prefix.
constexpr uint64_t kPacketOverhead = 16;
constexpr uint64_t kParamOverhead = 11;
constexpr unsigned kBinaryCharset = 63;
// Values larger than this stay in the row as it arrived until asked for.
constexpr unsigned long kOnWireBytes = 1 << 20;
constexpr char kOptionGroup[] = "ovixpatch";
constexpr char kCharset[] = "utf8mb4";

struct Endpoint {
  std::string host;
  unsigned port = 0;
};

// The start of `sql` for an error text.
std::string excerpt(std::string_view sql) {
  constexpr size_t kMax = 120;
  if (sql.size() <= kMax) return "\"" + std::string(sql) + "\"";
  return "\"" + std::string(sql.substr(0, kMax)) + "...\"";
}

bool parsePort(const std::string& text, unsigned* port, std::string* error) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 1 || value > 65535) {
    *error = "invalid MariaDB server port \"" + text + "\": expected a number from 1 to 65535";
    return false;
  }
  *port = value;
  return true;
}

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

// Sets the options of a new handle; false with *error when the option file
// named by OVIX_MYSQL_CNF is unreadable.
bool setOptions(MYSQL* mysql, std::string* error) {
  ovix::Env& env = *ovix::Env::Default();
  std::optional<std::string> file = env.getEnv("OVIX_MYSQL_CNF");
  if (file && !file->empty()) {
    std::unique_ptr<ovix::SequentialFile> readable;
    if (!env.newSequentialFile(*file, &readable)) {
      *error = "cannot read the option file " + *file +
               " named by OVIX_MYSQL_CNF: " + ovix::Env::lastError();
      return false;
    }
    mysql_optionsv(mysql, MYSQL_READ_DEFAULT_FILE, file->c_str());
  }
  mysql_optionsv(mysql, MYSQL_READ_DEFAULT_GROUP, kOptionGroup);
  mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, kCharset);
  unsigned timeout = kConnectTimeoutSeconds;
  mysql_optionsv(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  my_bool verify = 1;
  mysql_optionsv(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
  return true;
}

// What to change in the option file when the TLS check refused a server;
// "" for other errors.
std::string tlsAdvice(unsigned errorNumber, const char* errorText) {
  if (errorNumber != CR_SSL_CONNECTION_ERROR) return {};
  if (std::strstr(errorText, "does not support") != nullptr) {
    return "; the server offers no TLS and the option file requires it: set "
           "ssl-verify-server-cert=0 in the option file to allow an unencrypted connection";
  }
  return "; the server's certificate was not accepted: name the CA that signed it with ssl-ca "
         "in the option file, or set ssl-verify-server-cert=0 there to allow an unverified "
         "connection";
}

// A logged-in handle, with `database` as default database unless empty.
// Account and password come from the option files only.
MysqlHandle openHandle(const Endpoint& endpoint, const std::string& database,
                       std::string* error) {
  initLibrary();
  MysqlHandle mysql(mysql_init(nullptr));
  if (!mysql) {
    *error = "cannot create a MariaDB client handle (out of memory)";
    return nullptr;
  }
  if (!setOptions(mysql.get(), error)) return nullptr;
  std::string where = endpoint.host + ":" + std::to_string(endpoint.port);
  const char* host = endpoint.host.empty() ? nullptr : endpoint.host.c_str();
  const char* db = database.empty() ? nullptr : database.c_str();
  if (mysql_real_connect(mysql.get(), host, nullptr, nullptr, db, endpoint.port, nullptr, 0) ==
      nullptr) {
    *error = "cannot connect to the MariaDB server " + where +
             (db ? " (database " + database + ")" : std::string()) + ": " +
             mysql_error(mysql.get()) + tlsAdvice(mysql_errno(mysql.get()), mysql_error(mysql.get()));
    return nullptr;
  }
  // An option file may name another character set; values are utf8mb4.
  if (std::strcmp(mysql_character_set_name(mysql.get()), kCharset) != 0 &&
      mysql_set_character_set(mysql.get(), kCharset) != 0) {
    *error = "cannot use character set utf8mb4 on " + where + ": " + mysql_error(mysql.get());
    return nullptr;
  }
  return mysql;
}

int64_t parseInt(std::string_view text) {
  int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

double parseDouble(std::string_view text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// "SELECT <expression> FROM `table` WHERE `key` = ?" for a blob location.
std::string selectByKey(const std::string& expression, const BlobLocation& where) {
  return "SELECT " + expression + " FROM " + quoteIdentifier(where.table) + " WHERE " +
         quoteIdentifier(where.keyColumn) + " = ?";
}

bool containsExactly(const Rows& rows, const std::string& value) {
  return std::any_of(rows.begin(), rows.end(),
                     [&](const auto& row) { return !row.empty() && row[0] == value; });
}

class MariaDbStatement;

class MariaDbConnection final : public Connection {
 public:
  explicit MariaDbConnection(MysqlHandle mysql) : mysql_(std::move(mysql)) {}

  Dialect dialect() const override { return Dialect::kMariaDb; }
  const std::string& lastError() const override { return lastError_; }

  bool execute(std::string_view sql) override;
  std::unique_ptr<Statement> prepare(std::string_view sql) override;

  bool beginTransaction() override { return execute("START TRANSACTION"); }
  bool commitTransaction() override;
  bool rollbackTransaction() override;

  bool tableExists(const std::string& table) override;
  bool listTables(std::vector<std::string>* tables) override;
  bool listColumns(const std::string& table, std::vector<std::string>* columns) override;

  std::string columnDefinition(const FieldSpec& field, bool isKey) const override;
  std::string tableOptions() const override {
    return " ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin";
  }

  uint64_t maxValueBytes() override;
  bool readBlob(const BlobLocation& where, BlobSink* sink) override;
  int64_t blobSize(const BlobLocation& where) override;

  bool lockNamed(const std::string& name, int seconds, const std::string& holderText,
                 std::string* holder) override;
  bool unlockNamed(const std::string& name) override;
  // Who holds the named lock `name`, as the server can tell.
  std::string lockHolder(const std::string& name);

  // ---- for the statements of this connection and the server
  MYSQL* handle() const { return mysql_.get(); }
  // Records a failure: "<what>: <reason>"; always false.
  bool fail(const std::string& what, const char* reason, unsigned code);
  bool fail(const std::string& text) { return fail(text, nullptr, 0); }
  // True when the last failure lost the connection to the server.
  bool connectionLost() const {
    return lastCode_ == CR_SERVER_GONE_ERROR || lastCode_ == CR_SERVER_LOST;
  }
  // Makes the connection free for `user` (null: the connection itself): a
  // statement of another user that is still receiving rows reads the rest
  // into memory first.
  void claimWire(MariaDbStatement* user);
  void startStreaming(MariaDbStatement* statement) { streaming_ = statement; }
  void stopStreaming(MariaDbStatement* statement) {
    if (streaming_ == statement) streaming_ = nullptr;
  }
  // Runs `sql` with text parameters and appends every row to *rows.
  bool query(std::string_view sql, std::initializer_list<std::string_view> params, Rows* rows);

 private:
  std::unique_ptr<MariaDbStatement> prepareOwn(std::string_view sql);
  bool failMysql(const std::string& what) {
    return fail(what, mysql_error(handle()), mysql_errno(handle()));
  }
  bool drainResults(const std::string& what);
  bool checkLocation(const BlobLocation& where);
  bool copyChunks(const BlobLocation& where, int64_t size, BlobSink* sink);

  MysqlHandle mysql_;
  std::string lastError_;
  unsigned lastCode_ = 0;
  MariaDbStatement* streaming_ = nullptr;
  uint64_t maxValueBytes_ = 0;
};

class MariaDbStatement final : public Statement {
 public:
  MariaDbStatement(MariaDbConnection* conn, StmtHandle stmt, std::string_view sql);
  ~MariaDbStatement() override;

  bool bindNull(int index) override;
  bool bindText(int index, std::string_view text) override;
  bool bindInt(int index, int64_t value) override;
  bool bindDouble(int index, double value) override;
  bool bindBlob(int index, const void* data, size_t size) override;
  bool bindBlobSource(int index, BlobSource* source, const BlobLocation& where) override;

  StepResult step() override;
  bool reset() override;

  int columnCount() override { return static_cast<int>(columns_.size()); }
  std::string columnName(int index) override;
  ColumnType columnType(int index) override;
  int64_t columnInt(int index) override;
  double columnDouble(int index) override;
  std::string columnBytes(int index) override;
  bool columnView(int index, const char** data, size_t* size) override {
    const Cell* c = readyCell(index);
    if (c == nullptr || c->type == ColumnType::kInteger || c->type == ColumnType::kDouble)
      return false;
    *data = c->bytes.data();
    *size = c->bytes.size();
    return true;
  }
  std::unique_ptr<BlobSource> columnSource(int index) override;

  // Reads the rows not yet fetched into memory and frees the connection.
  void bufferRest();
  // The text or blob bytes of a column of the current row, without a copy.
  const std::string& bytesRef(int index);

  // Up to `n` bytes of column `index` of row `row` from `offset` on; false
  // once that row is no longer the current one.
  bool readColumnChunk(int index, uint64_t row, uint64_t offset, char* buf, size_t n, size_t* got);

 private:
  // kIdle: the next step() executes; kStreaming: rows come from the server;
  // kBuffered: the remaining rows are in buffered_.
  enum class State { kIdle, kStreaming, kBuffered };
  enum class ParamKind { kNull, kText, kBlob, kInt, kDouble, kSource };
  struct Param {
    ParamKind kind = ParamKind::kNull;
    std::string bytes;
    int64_t integer = 0;
    double real = 0;
    BlobSource* source = nullptr;
    unsigned long length = 0;
  };
  // How a result column is fetched.
  enum class Fetch { kInteger, kDouble, kDecimal, kBytes };
  struct Column {
    std::string name;
    Fetch fetch = Fetch::kBytes;
    ColumnType type = ColumnType::kText;  // of a non-NULL value
    bool isUnsigned = false;
  };
  struct Cell {
    ColumnType type = ColumnType::kNull;
    int64_t integer = 0;
    double real = 0;
    std::string bytes;
    // The size of a large value still in the row as it arrived: its bytes
    // are read when asked for, so a large file is not held twice.
    unsigned long onWire = 0;
  };
  using Row = std::vector<Cell>;

  bool fail(const std::string& what) {
    return conn_->fail(what, mysql_stmt_error(stmt_.get()), mysql_stmt_errno(stmt_.get()));
  }
  Param* param(int index);
  const Cell* cell(int index) const;
  // The cell with the bytes of a large value read from the row first.
  const Cell* readyCell(int index);
  bool readOnWire(size_t index);
  void setCurrent(Row row);
  void abandonRun();

  StepResult start();
  bool execute();
  bool checkLimits();
  void makeParamBinds();
  bool sendLongData();
  bool sendSource(unsigned index, BlobSource* source);
  void discardLongData();
  bool loadColumns();
  bool bindResult();

  StepResult nextStreamed();
  StepResult nextBuffered();
  // With `leaveLarge`, large values stay in the row as it arrived.
  int fetchRow(Row* row, bool leaveLarge);
  bool readCell(size_t index, Cell* cell, bool leaveLarge);
  bool fetchBytes(size_t index, std::string* out);
  void endResult();

  MariaDbConnection* conn_;
  StmtHandle stmt_;
  std::string sql_;
  State state_ = State::kIdle;
  std::vector<Param> params_;
  std::vector<MYSQL_BIND> paramBinds_;
  bool longDataSent_ = false;  // the server holds long data of no execute

  std::vector<Column> columns_;
  std::vector<MYSQL_BIND> resultBinds_;
  std::vector<unsigned long> lengths_;
  std::vector<my_bool> nulls_;
  std::vector<my_bool> truncated_;
  std::vector<int64_t> ints_;
  std::vector<double> doubles_;
  Row current_;
  uint64_t rowNumber_ = 0;  // changes with every current row
  std::deque<Row> buffered_;
  std::string bufferedError_;
};

// ---- MariaDbStatement: binding -------------------------------------------

MariaDbStatement::MariaDbStatement(MariaDbConnection* conn, StmtHandle stmt, std::string_view sql)
    : conn_(conn), stmt_(std::move(stmt)), sql_(excerpt(sql)) {
  params_.resize(mysql_stmt_param_count(stmt_.get()));
  loadColumns();
}

MariaDbStatement::~MariaDbStatement() {
  abandonRun();
  conn_->claimWire(this);  // closing sends a command to the server
}

MariaDbStatement::Param* MariaDbStatement::param(int index) {
  if (index < 0 || static_cast<size_t>(index) >= params_.size()) {
    conn_->fail("parameter " + std::to_string(index) + " out of range: " + sql_ + " has " +
                std::to_string(params_.size()) + " parameters");
    return nullptr;
  }
  abandonRun();
  Param* p = &params_[index];
  *p = Param();
  return p;
}

bool MariaDbStatement::bindNull(int index) { return param(index) != nullptr; }

bool MariaDbStatement::bindText(int index, std::string_view text) {
  Param* p = param(index);
  if (p == nullptr) return false;
  p->kind = ParamKind::kText;
  p->bytes.assign(text);
  return true;
}

bool MariaDbStatement::bindInt(int index, int64_t value) {
  Param* p = param(index);
  if (p == nullptr) return false;
  p->kind = ParamKind::kInt;
  p->integer = value;
  return true;
}

bool MariaDbStatement::bindDouble(int index, double value) {
  Param* p = param(index);
  if (p == nullptr) return false;
  p->kind = ParamKind::kDouble;
  p->real = value;
  return true;
}

bool MariaDbStatement::bindBlob(int index, const void* data, size_t size) {
  Param* p = param(index);
  if (p == nullptr) return false;
  p->kind = ParamKind::kBlob;
  if (size > 0) p->bytes.assign(static_cast<const char*>(data), size);
  return true;
}

// The value is sent with mysql_stmt_send_long_data before the execute, so
// the row is written in one statement and `where` is not needed.  A source
// is read by one execution; running again needs a new binding.
bool MariaDbStatement::bindBlobSource(int index, BlobSource* source,
                                      const BlobLocation& /*where*/) {
  if (source == nullptr) return conn_->fail("null blob source bound to " + sql_);
  Param* p = param(index);
  if (p == nullptr) return false;
  p->kind = ParamKind::kSource;
  p->source = source;
  return true;
}

// ---- MariaDbStatement: running -------------------------------------------

StepResult MariaDbStatement::step() {
  switch (state_) {
    case State::kStreaming:
      return nextStreamed();
    case State::kBuffered:
      return nextBuffered();
    case State::kIdle:
      break;
  }
  return start();
}

bool MariaDbStatement::reset() {
  abandonRun();
  if (longDataSent_) {
    conn_->claimWire(this);
    if (mysql_stmt_reset(stmt_.get()) != 0) return fail("resetting " + sql_);
    longDataSent_ = false;
  }
  return true;
}

// Ends a run that still has rows; the next step() executes again.
void MariaDbStatement::abandonRun() {
  endResult();
  buffered_.clear();
  bufferedError_.clear();
  setCurrent({});
  state_ = State::kIdle;
}

StepResult MariaDbStatement::start() {
  setCurrent({});
  if (!execute()) return StepResult::kError;
  if (columns_.empty()) return StepResult::kDone;
  state_ = State::kStreaming;
  conn_->startStreaming(this);
  return nextStreamed();
}

bool MariaDbStatement::execute() {
  if (!checkLimits()) return false;
  conn_->claimWire(this);
  makeParamBinds();
  if (!paramBinds_.empty() && mysql_stmt_bind_param(stmt_.get(), paramBinds_.data()) != 0) {
    return fail("binding the parameters of " + sql_);
  }
  if (!sendLongData()) return false;
  if (mysql_stmt_execute(stmt_.get()) != 0) {
    fail("executing " + sql_);
    discardLongData();
    return false;
  }
  longDataSent_ = false;
  if (loadColumns() && bindResult()) return true;
  mysql_stmt_reset(stmt_.get());  // drops the rows that cannot be read
  columns_.clear();
  return false;
}

// Refuses values that the server would not accept in one packet: sending
// them would make the server drop the connection.
bool MariaDbStatement::checkLimits() {
  uint64_t inPacket = kPacketOverhead;
  uint64_t largestStream = 0;
  for (const Param& p : params_) {
    inPacket += kParamOverhead + p.bytes.size();
    if (p.kind == ParamKind::kSource) {
      largestStream = std::max<uint64_t>(largestStream, std::max<int64_t>(p.source->size(), 0));
    }
  }
  if (inPacket <= kCheckLimitAbove && largestStream <= kCheckLimitAbove) return true;
  uint64_t limit = conn_->maxValueBytes();
  if (limit == 0) return false;
  uint64_t larger = std::max(inPacket, largestStream);
  if (larger > limit) {
    return conn_->fail("a value of " + std::to_string(larger) + " bytes for " + sql_ +
                       " exceeds the server's limit of " + std::to_string(limit) +
                       " bytes (max_allowed_packet)");
  }
  return true;
}

void MariaDbStatement::makeParamBinds() {
  static char empty[1] = {0};
  paramBinds_.assign(params_.size(), MYSQL_BIND{});
  for (size_t i = 0; i < params_.size(); ++i) {
    Param& p = params_[i];
    MYSQL_BIND& b = paramBinds_[i];
    p.length = p.bytes.size();
    switch (p.kind) {
      case ParamKind::kNull:
        b.buffer_type = MYSQL_TYPE_NULL;
        break;
      case ParamKind::kInt:
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &p.integer;
        break;
      case ParamKind::kDouble:
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = &p.real;
        break;
      case ParamKind::kText:
      case ParamKind::kBlob:
        // A null buffer would be sent as NULL, so "" points at real storage.
        b.buffer_type = p.kind == ParamKind::kText ? MYSQL_TYPE_STRING : MYSQL_TYPE_BLOB;
        b.buffer = p.bytes.empty() ? empty : p.bytes.data();
        b.buffer_length = p.length;
        b.length = &p.length;
        break;
      case ParamKind::kSource:
        // Without long data a null buffer means NULL: an empty source is
        // bound as an empty value instead of being streamed.
        b.buffer_type = MYSQL_TYPE_LONG_BLOB;
        if (p.source->size() == 0) {
          b.buffer = empty;
          b.length = &p.length;
        }
        break;
    }
  }
}

bool MariaDbStatement::sendLongData() {
  for (size_t i = 0; i < params_.size(); ++i) {
    const Param& p = params_[i];
    if (p.kind != ParamKind::kSource || p.source->size() == 0) continue;
    if (!sendSource(static_cast<unsigned>(i), p.source)) {
      discardLongData();
      return false;
    }
  }
  return true;
}

bool MariaDbStatement::sendSource(unsigned index, BlobSource* source) {
  const int64_t expected = source->size();
  std::string what = "streaming parameter " + std::to_string(index) + " of " + sql_;
  std::string buffer(kSendChunkBytes, '\0');
  int64_t sent = 0;
  for (;;) {
    size_t got = 0;
    if (!source->read(buffer.data(), buffer.size(), &got)) {
      return conn_->fail(what + ": the blob source failed to read");
    }
    if (got == 0) break;
    if (sent + static_cast<int64_t>(got) > expected) break;
    longDataSent_ = true;
    if (mysql_stmt_send_long_data(stmt_.get(), index, buffer.data(), got) != 0) return fail(what);
    sent += static_cast<int64_t>(got);
  }
  if (sent != expected) {
    return conn_->fail(what + ": the blob source announced " + std::to_string(expected) +
                       " bytes but gave " + (sent < expected ? "only " : "more than ") +
                       std::to_string(sent));
  }
  return true;
}

// Drops long data that the server holds for a statement that did not run,
// so that it cannot end up in the next execute.
void MariaDbStatement::discardLongData() {
  if (!longDataSent_) return;
  mysql_stmt_reset(stmt_.get());
  longDataSent_ = false;
}

bool MariaDbStatement::loadColumns() {
  columns_.clear();
  ResultHandle meta(mysql_stmt_result_metadata(stmt_.get()));
  if (!meta) return mysql_stmt_errno(stmt_.get()) == 0 || fail("reading the columns of " + sql_);
  unsigned count = mysql_num_fields(meta.get());
  const MYSQL_FIELD* fields = mysql_fetch_fields(meta.get());
  for (unsigned i = 0; i < count; ++i) {
    const MYSQL_FIELD& f = fields[i];
    Column c;
    c.name.assign(f.name, f.name_length);
    c.isUnsigned = (f.flags & UNSIGNED_FLAG) != 0;
    switch (f.type) {
      case MYSQL_TYPE_TINY:
      case MYSQL_TYPE_SHORT:
      case MYSQL_TYPE_LONG:
      case MYSQL_TYPE_INT24:
      case MYSQL_TYPE_LONGLONG:
      case MYSQL_TYPE_YEAR:
        c.fetch = Fetch::kInteger;
        c.type = ColumnType::kInteger;
        break;
      case MYSQL_TYPE_FLOAT:
      case MYSQL_TYPE_DOUBLE:
        c.fetch = Fetch::kDouble;
        c.type = ColumnType::kDouble;
        break;
      case MYSQL_TYPE_DECIMAL:
      case MYSQL_TYPE_NEWDECIMAL:
        c.fetch = Fetch::kDecimal;
        c.type = ColumnType::kDouble;
        break;
      case MYSQL_TYPE_TINY_BLOB:
      case MYSQL_TYPE_MEDIUM_BLOB:
      case MYSQL_TYPE_LONG_BLOB:
      case MYSQL_TYPE_BLOB:
      case MYSQL_TYPE_VAR_STRING:
      case MYSQL_TYPE_STRING:
      case MYSQL_TYPE_VARCHAR:
      case MYSQL_TYPE_BIT:
      case MYSQL_TYPE_GEOMETRY:
        c.type = f.charsetnr == kBinaryCharset ? ColumnType::kBlob : ColumnType::kText;
        break;
      default:  // dates and times arrive as their text
        break;
    }
    columns_.push_back(std::move(c));
  }
  return true;
}

// Binds the result columns: numbers into fixed buffers, bytes with no
// buffer at all so that fetching a row only reports their lengths; the bytes
// are then read whole with mysql_stmt_fetch_column.
bool MariaDbStatement::bindResult() {
  size_t n = columns_.size();
  if (n == 0) return true;
  resultBinds_.assign(n, MYSQL_BIND{});
  lengths_.assign(n, 0);
  nulls_.assign(n, 0);
  truncated_.assign(n, 0);
  ints_.assign(n, 0);
  doubles_.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    MYSQL_BIND& b = resultBinds_[i];
    b.length = &lengths_[i];
    b.is_null = &nulls_[i];
    b.error = &truncated_[i];
    switch (columns_[i].fetch) {
      case Fetch::kInteger:
        b.buffer_type = MYSQL_TYPE_LONGLONG;
        b.buffer = &ints_[i];
        b.is_unsigned = columns_[i].isUnsigned;
        break;
      case Fetch::kDouble:
        b.buffer_type = MYSQL_TYPE_DOUBLE;
        b.buffer = &doubles_[i];
        break;
      case Fetch::kDecimal:
      case Fetch::kBytes:
        b.buffer_type = MYSQL_TYPE_STRING;
        break;
    }
  }
  if (mysql_stmt_bind_result(stmt_.get(), resultBinds_.data()) != 0) {
    return fail("binding the columns of " + sql_);
  }
  return true;
}

// ---- MariaDbStatement: rows ----------------------------------------------

void MariaDbStatement::setCurrent(Row row) {
  current_ = std::move(row);
  ++rowNumber_;
}

StepResult MariaDbStatement::nextStreamed() {
  Row row;
  int got = fetchRow(&row, /*leaveLarge=*/true);
  setCurrent(std::move(row));
  if (got > 0) return StepResult::kRow;
  endResult();
  state_ = State::kIdle;
  setCurrent({});
  return got == 0 ? StepResult::kDone : StepResult::kError;
}

StepResult MariaDbStatement::nextBuffered() {
  if (!buffered_.empty()) {
    setCurrent(std::move(buffered_.front()));
    buffered_.pop_front();
    return StepResult::kRow;
  }
  state_ = State::kIdle;
  setCurrent({});
  if (bufferedError_.empty()) return StepResult::kDone;
  conn_->fail(std::exchange(bufferedError_, std::string()));
  return StepResult::kError;
}

void MariaDbStatement::bufferRest() {
  if (state_ != State::kStreaming) return;
  // The current row stays readable: its large values leave the wire first.
  for (size_t i = 0; i < current_.size(); ++i) {
    if (current_[i].onWire > 0 && !readOnWire(i)) {
      current_[i].bytes.clear();
      current_[i].onWire = 0;
    }
  }
  Row row;
  int got;
  while ((got = fetchRow(&row, /*leaveLarge=*/false)) > 0) buffered_.push_back(std::move(row));
  if (got < 0) bufferedError_ = conn_->lastError();
  endResult();
  state_ = State::kBuffered;
}

// 1 with the next row in *row, 0 at the end, -1 on failure.
int MariaDbStatement::fetchRow(Row* row, bool leaveLarge) {
  int rc = mysql_stmt_fetch(stmt_.get());
  if (rc == MYSQL_NO_DATA) return 0;
  if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) {
    fail("reading a row of " + sql_);
    return -1;
  }
  row->assign(columns_.size(), Cell());
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!readCell(i, &(*row)[i], leaveLarge)) return -1;
  }
  return 1;
}

bool MariaDbStatement::readCell(size_t index, Cell* cell, bool leaveLarge) {
  if (nulls_[index]) return true;  // cell->type stays kNull
  const Column& column = columns_[index];
  cell->type = column.type;
  switch (column.fetch) {
    case Fetch::kInteger:
      cell->integer = ints_[index];
      return true;
    case Fetch::kDouble:
      cell->real = doubles_[index];
      return true;
    case Fetch::kDecimal:
      if (!fetchBytes(index, &cell->bytes)) return false;
      cell->real = parseDouble(cell->bytes);
      return true;
    case Fetch::kBytes:
      break;
  }
  if (leaveLarge && lengths_[index] > kOnWireBytes) {
    cell->onWire = lengths_[index];
    return true;
  }
  return fetchBytes(index, &cell->bytes);
}

bool MariaDbStatement::readOnWire(size_t index) {
  Cell& c = current_[index];
  if (c.onWire == 0) return true;
  if (state_ != State::kStreaming || !fetchBytes(index, &c.bytes)) return false;
  c.onWire = 0;
  return true;
}

const MariaDbStatement::Cell* MariaDbStatement::readyCell(int index) {
  const Cell* c = cell(index);
  if (c != nullptr && c->onWire > 0) readOnWire(static_cast<size_t>(index));
  return c;
}

namespace {

// A large value of the current row, read in chunks from where it arrived.
class OnWireSource final : public BlobSource {
 public:
  OnWireSource(MariaDbStatement* statement, int index, uint64_t row, int64_t size)
      : statement_(statement), index_(index), row_(row), size_(size) {}
  int64_t size() const override { return size_; }
  bool read(char* buf, size_t n, size_t* got) override {
    *got = 0;
    if (offset_ >= static_cast<uint64_t>(size_) || n == 0) return true;
    if (!statement_->readColumnChunk(index_, row_, offset_, buf, n, got)) return false;
    offset_ += *got;
    return true;
  }

 private:
  MariaDbStatement* statement_;
  int index_;
  uint64_t row_;
  int64_t size_;
  uint64_t offset_ = 0;
};

}  // namespace

std::unique_ptr<BlobSource> MariaDbStatement::columnSource(int index) {
  const Cell* c = cell(index);
  if (c == nullptr || c->onWire == 0) return nullptr;
  return std::make_unique<OnWireSource>(this, index, rowNumber_, static_cast<int64_t>(c->onWire));
}

bool MariaDbStatement::readColumnChunk(int index, uint64_t row, uint64_t offset, char* buf,
                                       size_t n, size_t* got) {
  *got = 0;
  const Cell* c = cell(index);
  if (row != rowNumber_ || c == nullptr) return conn_->fail("reading a value of a row already left");
  if (c->onWire == 0) {  // read from the row since, e.g. for another statement
    if (offset >= c->bytes.size()) return true;
    *got = std::min<size_t>(n, c->bytes.size() - offset);
    std::memcpy(buf, c->bytes.data() + offset, *got);
    return true;
  }
  if (offset >= c->onWire) return true;
  unsigned long total = 0;
  MYSQL_BIND b{};
  b.buffer_type = MYSQL_TYPE_STRING;
  b.buffer = buf;
  b.buffer_length = static_cast<unsigned long>(std::min<size_t>(n, ULONG_MAX));
  b.length = &total;
  if (mysql_stmt_fetch_column(stmt_.get(), &b, static_cast<unsigned>(index),
                              static_cast<unsigned long>(offset)) != 0) {
    return fail("reading column " + columns_[static_cast<size_t>(index)].name + " of " + sql_);
  }
  *got = std::min<size_t>(b.buffer_length, c->onWire - offset);
  return true;
}

bool MariaDbStatement::fetchBytes(size_t index, std::string* out) {
  unsigned long size = lengths_[index];
  for (;;) {
    out->resize(size);
    if (size == 0) return true;
    unsigned long got = 0;
    MYSQL_BIND b{};
    b.buffer_type = MYSQL_TYPE_STRING;
    b.buffer = out->data();
    b.buffer_length = size;
    b.length = &got;
    if (mysql_stmt_fetch_column(stmt_.get(), &b, static_cast<unsigned>(index), 0) != 0) {
      return fail("reading column " + columns_[index].name + " of " + sql_);
    }
    if (got <= size) {
      out->resize(got);
      return true;
    }
    size = got;  // a converted value may be longer than announced
  }
}

// Reads the rows left on the wire, if any, and frees the result.
void MariaDbStatement::endResult() {
  if (state_ != State::kStreaming) return;
  int rc;
  do {
    rc = mysql_stmt_fetch(stmt_.get());
  } while (rc == 0 || rc == MYSQL_DATA_TRUNCATED);
  mysql_stmt_free_result(stmt_.get());
  conn_->stopStreaming(this);
}

// ---- MariaDbStatement: columns -------------------------------------------

const MariaDbStatement::Cell* MariaDbStatement::cell(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= current_.size()) return nullptr;
  return &current_[index];
}

std::string MariaDbStatement::columnName(int index) {
  if (index < 0 || static_cast<size_t>(index) >= columns_.size()) return std::string();
  return columns_[index].name;
}

ColumnType MariaDbStatement::columnType(int index) {
  const Cell* c = cell(index);
  return c ? c->type : ColumnType::kNull;
}

int64_t MariaDbStatement::columnInt(int index) {
  const Cell* c = readyCell(index);
  if (c == nullptr) return 0;
  switch (c->type) {
    case ColumnType::kInteger:
      return c->integer;
    case ColumnType::kDouble:
      return static_cast<int64_t>(c->real);
    case ColumnType::kText:
    case ColumnType::kBlob:
      return parseInt(c->bytes);
    case ColumnType::kNull:
      break;
  }
  return 0;
}

double MariaDbStatement::columnDouble(int index) {
  const Cell* c = readyCell(index);
  if (c == nullptr) return 0;
  switch (c->type) {
    case ColumnType::kInteger:
      return static_cast<double>(c->integer);
    case ColumnType::kDouble:
      return c->real;
    case ColumnType::kText:
    case ColumnType::kBlob:
      return parseDouble(c->bytes);
    case ColumnType::kNull:
      break;
  }
  return 0;
}

std::string MariaDbStatement::columnBytes(int index) {
  const Cell* c = readyCell(index);
  if (c == nullptr) return std::string();
  if (c->type == ColumnType::kInteger && columns_[index].fetch == Fetch::kInteger) {
    return columns_[index].isUnsigned ? std::to_string(static_cast<uint64_t>(c->integer))
                                      : std::to_string(c->integer);
  }
  if (c->type == ColumnType::kDouble && columns_[index].fetch == Fetch::kDouble) {
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof(text), c->real);
    return ec == std::errc() ? std::string(text, end) : std::string();
  }
  return c->bytes;
}

const std::string& MariaDbStatement::bytesRef(int index) {
  static const std::string kEmpty;
  const Cell* c = readyCell(index);
  return c ? c->bytes : kEmpty;
}

// ---- MariaDbConnection ------------------------------------------------------

bool MariaDbConnection::fail(const std::string& what, const char* reason, unsigned code) {
  lastError_ = what;
  if (reason != nullptr && *reason != '\0') lastError_ += std::string(": ") + reason;
  lastCode_ = code;
  return false;
}

void MariaDbConnection::claimWire(MariaDbStatement* user) {
  if (streaming_ == nullptr || streaming_ == user) return;
  MariaDbStatement* other = std::exchange(streaming_, nullptr);
  other->bufferRest();
}

bool MariaDbConnection::execute(std::string_view sql) {
  claimWire(nullptr);
  std::string what = "executing " + excerpt(sql);
  if (mysql_real_query(handle(), sql.data(), sql.size()) != 0) return failMysql(what);
  return drainResults(what);
}

// Reads and frees every result of the last query.
bool MariaDbConnection::drainResults(const std::string& what) {
  for (;;) {
    if (mysql_field_count(handle()) > 0) {
      ResultHandle result(mysql_use_result(handle()));
      if (!result) return failMysql(what);
      while (mysql_fetch_row(result.get()) != nullptr) {
      }
      if (mysql_errno(handle()) != 0) return failMysql(what);
    }
    int next = mysql_next_result(handle());
    if (next < 0) return true;
    if (next > 0) return failMysql(what);
  }
}

std::unique_ptr<MariaDbStatement> MariaDbConnection::prepareOwn(std::string_view sql) {
  claimWire(nullptr);
  std::string what = "preparing " + excerpt(sql);
  StmtHandle stmt(mysql_stmt_init(handle()));
  if (!stmt) {
    failMysql(what);
    return nullptr;
  }
  if (mysql_stmt_prepare(stmt.get(), sql.data(), sql.size()) != 0) {
    fail(what, mysql_stmt_error(stmt.get()), mysql_stmt_errno(stmt.get()));
    return nullptr;
  }
  return std::make_unique<MariaDbStatement>(this, std::move(stmt), sql);
}

std::unique_ptr<Statement> MariaDbConnection::prepare(std::string_view sql) {
  return prepareOwn(sql);
}

bool MariaDbConnection::commitTransaction() {
  claimWire(nullptr);
  return mysql_commit(handle()) == 0 || failMysql("committing the transaction");
}

bool MariaDbConnection::rollbackTransaction() {
  claimWire(nullptr);
  return mysql_rollback(handle()) == 0 || failMysql("rolling back the transaction");
}

bool MariaDbConnection::query(std::string_view sql, std::initializer_list<std::string_view> params,
                              Rows* rows) {
  std::unique_ptr<MariaDbStatement> st = prepareOwn(sql);
  if (!st) return false;
  int index = 0;
  for (std::string_view p : params) {
    if (!st->bindText(index++, p)) return false;
  }
  for (;;) {
    switch (st->step()) {
      case StepResult::kRow: {
        std::vector<std::string>& row = rows->emplace_back();
        for (int i = 0; i < st->columnCount(); ++i) row.push_back(st->columnBytes(i));
        break;
      }
      case StepResult::kDone:
        return true;
      case StepResult::kError:
        return false;
    }
  }
}

// information_schema compares names without regard to case; the rows are
// filtered here for the exact name, as the server's table names are.
bool MariaDbConnection::tableExists(const std::string& table) {
  Rows rows;
  return query("SELECT table_name FROM information_schema.tables "
               "WHERE table_schema = DATABASE() AND table_name = ?",
               {table}, &rows) &&
         containsExactly(rows, table);
}

bool MariaDbConnection::listTables(std::vector<std::string>* tables) {
  Rows rows;
  if (!query("SELECT table_name FROM information_schema.tables "
             "WHERE table_schema = DATABASE() AND table_type = 'BASE TABLE' "
             "ORDER BY table_name",
             {}, &rows)) {
    return false;
  }
  tables->clear();
  for (auto& row : rows) tables->push_back(std::move(row[0]));
  return true;
}

bool MariaDbConnection::listColumns(const std::string& table, std::vector<std::string>* columns) {
  Rows rows;
  if (!query("SELECT table_name, column_name FROM information_schema.columns "
             "WHERE table_schema = DATABASE() AND table_name = ? ORDER BY ordinal_position",
             {table}, &rows)) {
    return false;
  }
  columns->clear();
  for (auto& row : rows) {
    if (row[0] == table) columns->push_back(std::move(row[1]));
  }
  if (columns->empty()) return fail("listing the columns of " + table + ": no such table");
  return true;
}

std::string MariaDbConnection::columnDefinition(const FieldSpec& field, bool isKey) const {
  std::string name = quoteIdentifier(field.name);
  if (isKey) return name + " VARCHAR(" + std::to_string(kKeyCharacters) + ") NOT NULL PRIMARY KEY";
  switch (field.kind) {
    case FieldKind::kText:
      break;
    case FieldKind::kFixedText:
      return name + " VARCHAR(" + std::to_string(std::max(field.length, 1)) + ")";
    case FieldKind::kInteger:
    case FieldKind::kBool:
      return name + " INT";
    case FieldKind::kLongBlob:
      return name + " LONGBLOB";
  }
  return name + " LONGTEXT";
}

uint64_t MariaDbConnection::maxValueBytes() {
  if (maxValueBytes_ != 0) return maxValueBytes_;
  Rows rows;
  if (!query("SELECT @@max_allowed_packet", {}, &rows)) return 0;
  if (rows.empty() || parseInt(rows[0][0]) <= 0) {
    fail("reading the server's max_allowed_packet: no value");
    return 0;
  }
  maxValueBytes_ = static_cast<uint64_t>(parseInt(rows[0][0]));
  return maxValueBytes_;
}

bool MariaDbConnection::checkLocation(const BlobLocation& where) {
  for (const std::string* name : {&where.table, &where.column, &where.keyColumn}) {
    if (!isPlainIdentifier(*name)) {
      return fail("invalid blob location: \"" + *name +
                  "\" is not a plain identifier (1 to 64 of A-Z, a-z, 0-9, _)");
    }
  }
  return true;
}

int64_t MariaDbConnection::blobSize(const BlobLocation& where) {
  if (!checkLocation(where)) return -1;
  std::unique_ptr<MariaDbStatement> st =
      prepareOwn(selectByKey("LENGTH(" + quoteIdentifier(where.column) + ")", where));
  if (!st || !st->bindText(0, where.keyValue)) return -1;
  switch (st->step()) {
    case StepResult::kRow:
      return st->columnInt(0);  // 0 for NULL
    case StepResult::kDone:
      fail("no row " + where.keyColumn + " = \"" + where.keyValue + "\" in table " + where.table);
      return -1;
    case StepResult::kError:
      break;
  }
  return -1;
}

bool MariaDbConnection::readBlob(const BlobLocation& where, BlobSink* sink) {
  int64_t size = blobSize(where);
  if (size < 0) return false;
  return size == 0 || copyChunks(where, size, sink);
}

// Reads the `size` bytes in slices so that no more than one slice is in
// memory.  A slice of another length means the value changed meanwhile or
// the column counts characters rather than bytes.
bool MariaDbConnection::copyChunks(const BlobLocation& where, int64_t size, BlobSink* sink) {
  std::unique_ptr<MariaDbStatement> st =
      prepareOwn(selectByKey("SUBSTRING(" + quoteIdentifier(where.column) + ", ?, ?)", where));
  if (!st) return false;
  std::string what =
      "reading " + where.table + "." + where.column + " of \"" + where.keyValue + "\"";
  for (int64_t done = 0; done < size;) {
    int64_t want = std::min(kReadChunkBytes, size - done);
    if (!st->bindInt(0, done + 1) || !st->bindInt(1, want) || !st->bindText(2, where.keyValue)) {
      return false;
    }
    StepResult r = st->step();
    if (r == StepResult::kError) return false;
    if (r == StepResult::kDone) return fail(what + ": the row disappeared");
    const std::string& bytes = st->bytesRef(0);
    if (static_cast<int64_t>(bytes.size()) != want) {
      return fail(what + ": got " + std::to_string(bytes.size()) + " bytes at offset " +
                  std::to_string(done) + " instead of " + std::to_string(want) +
                  " (value changed, or not a binary column)");
    }
    if (!sink->write(bytes.data(), bytes.size())) return fail(what + ": the sink failed to write");
    done += want;
    st->reset();
  }
  return true;
}

// A server-wide lock of the session.  The server keeps no text with it, so
// a waiter learns the holder's session from the server instead of the
// holder's own text.
bool MariaDbConnection::lockNamed(const std::string& name, int seconds, const std::string&,
                                  std::string* holder) {
  if (holder != nullptr) holder->clear();
  std::unique_ptr<MariaDbStatement> st = prepareOwn("SELECT GET_LOCK(?, ?)");
  if (!st || !st->bindText(0, name) || !st->bindInt(1, seconds)) return false;
  std::string what = "taking the lock \"" + name + "\"";
  StepResult r = st->step();
  if (r == StepResult::kError) return false;
  if (r == StepResult::kDone || st->columnType(0) == ColumnType::kNull) {
    return fail(what + ": the server returned no result");
  }
  if (st->columnInt(0) == 1) return true;
  st.reset();
  std::string who = lockHolder(name);
  if (holder != nullptr) *holder = who;
  return fail(what + ": held by " + who + ", waited " + std::to_string(seconds) + " s");
}

std::string MariaDbConnection::lockHolder(const std::string& name) {
  std::string who = "another session";
  std::unique_ptr<MariaDbStatement> st = prepareOwn(
      "SELECT l.id, p.USER, p.HOST, p.TIME FROM (SELECT IS_USED_LOCK(?) AS id) l "
      "LEFT JOIN information_schema.PROCESSLIST p ON p.ID = l.id");
  if (!st || !st->bindText(0, name) || st->step() != StepResult::kRow ||
      st->columnType(0) == ColumnType::kNull)
    return who;
  who = "session " + std::to_string(st->columnInt(0));
  if (st->columnType(1) != ColumnType::kNull) {
    who += " of " + std::string(st->columnBytes(1)) + "@" + std::string(st->columnBytes(2)) +
           ", busy for " + std::to_string(st->columnInt(3)) + " s";
  }
  return who;
}

bool MariaDbConnection::unlockNamed(const std::string& name) {
  std::unique_ptr<MariaDbStatement> st = prepareOwn("SELECT RELEASE_LOCK(?)");
  if (!st || !st->bindText(0, name)) return false;
  std::string what = "releasing the lock \"" + name + "\"";
  StepResult r = st->step();
  if (r == StepResult::kError) return false;
  if (r == StepResult::kDone || st->columnType(0) == ColumnType::kNull) {
    return fail(what + ": no such lock");
  }
  if (st->columnInt(0) != 1) return fail(what + ": held by another session");
  return true;
}

// ---- MariaDbServer -----------------------------------------------------------

class MariaDbServer final : public Server {
 public:
  MariaDbServer(Endpoint endpoint, std::unique_ptr<MariaDbConnection> admin)
      : endpoint_(std::move(endpoint)), admin_(std::move(admin)) {}

  const std::string& lastError() const override { return lastError_; }
  bool databaseExists(const std::string& name) override;
  bool createDatabase(const std::string& name) override;
  std::unique_ptr<Connection> connect(const std::string& name) override;

 private:
  std::unique_ptr<MariaDbConnection> open(const std::string& database);
  bool withAdmin(const std::function<bool(MariaDbConnection&)>& op);

  Endpoint endpoint_;
  std::unique_ptr<MariaDbConnection> admin_;  // without default database
  std::string lastError_;
};

std::unique_ptr<MariaDbConnection> MariaDbServer::open(const std::string& database) {
  MysqlHandle mysql = openHandle(endpoint_, database, &lastError_);
  if (!mysql) return nullptr;
  return std::make_unique<MariaDbConnection>(std::move(mysql));
}

// Runs `op` on the connection without default database, reconnecting once
// when the server has dropped it (e.g. after its idle timeout).
bool MariaDbServer::withAdmin(const std::function<bool(MariaDbConnection&)>& op) {
  if (op(*admin_)) return true;
  if (admin_->connectionLost()) {
    std::unique_ptr<MariaDbConnection> fresh = open("");
    if (!fresh) return false;
    admin_ = std::move(fresh);
    if (op(*admin_)) return true;
  }
  lastError_ = admin_->lastError();
  return false;
}

bool MariaDbServer::databaseExists(const std::string& name) {
  Rows rows;
  bool ok = withAdmin([&](MariaDbConnection& c) {
    rows.clear();
    return c.query("SELECT schema_name FROM information_schema.schemata WHERE schema_name = ?",
                   {name}, &rows);
  });
  return ok && containsExactly(rows, name);
}

bool MariaDbServer::createDatabase(const std::string& name) {
  if (!isPlainIdentifier(name)) {
    lastError_ = "invalid database name \"" + name +
                 "\": expected 1 to 64 of A-Z, a-z, 0-9, _";
    return false;
  }
  std::string sql =
      "CREATE DATABASE " + quoteIdentifier(name) + " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin";
  return withAdmin([&](MariaDbConnection& c) { return c.execute(sql); });
}

std::unique_ptr<Connection> MariaDbServer::connect(const std::string& name) {
  return open(name);
}

}  // namespace

std::unique_ptr<Server> openMariaDbServer(const std::string& host, const std::string& port,
                                          std::string* error) {
  Endpoint endpoint{host, 0};
  if (!parsePort(port, &endpoint.port, error)) return nullptr;
  MysqlHandle mysql = openHandle(endpoint, "", error);
  if (!mysql) return nullptr;
  return std::make_unique<MariaDbServer>(std::move(endpoint),
                                         std::make_unique<MariaDbConnection>(std::move(mysql)));
}

}  // namespace zddb
