// Reference loaders for the upload benchmark: copy the file rows of a
// package into a MariaDB table with the client library alone, in the two
// usual ways, so that `ovixpatch upload` can be compared with them.
//
//   ovix_bench_loader prepared PACKAGE HOST PORT DB TABLE
//       one prepared INSERT per row, the blob streamed with
//       mysql_stmt_send_long_data in 1 MiB chunks, all in one transaction
//   ovix_bench_loader loaddata PACKAGE HOST PORT DB TABLE WORKDIR
//       the rows written to a tab-separated file in WORKDIR (blobs as hex)
//       and loaded with LOAD DATA LOCAL INFILE in one transaction
//
// Both create DB when it is missing and TABLE afresh, read the package row
// at a time (blobs with sqlite3_blob incremental I/O in 1 MiB chunks) and
// check afterwards that TABLE holds as many rows as the package.  The
// account, password and TLS settings come from the option file named by
// OVIX_MYSQL_CNF (group [client]); nothing secret is passed in arguments.
// Prints "rows=N bytes=B seconds=S" on success; exit status 0 on success,
// 1 on failure, 2 on a usage error.

#include <mysql.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kChunk = 1 << 20;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "ovix_bench_loader: %s\n", what.c_str());
  std::exit(1);
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: ovix_bench_loader prepared PACKAGE HOST PORT DB TABLE\n"
               "       ovix_bench_loader loaddata PACKAGE HOST PORT DB TABLE WORKDIR\n");
  std::exit(2);
}

std::string quoteName(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

// ---- the package side -------------------------------------------------------

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtCloser {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
struct BlobCloser {
  void operator()(sqlite3_blob* blob) const { sqlite3_blob_close(blob); }
};

// One row of OVIXFileRecord; `stream` is read separately in chunks.
struct Row {
  std::string skey;
  std::string crc;
  bool crcNull = false;
  std::string guid;
  bool guidNull = false;
  long long version = 0;
  bool versionNull = false;
  bool streamNull = false;
  long long streamBytes = 0;
  sqlite3_int64 rowid = 0;
};

class Package {
 public:
  explicit Package(const char* path) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr);
    db_.reset(db);
    if (rc != SQLITE_OK) fail(std::string("cannot open the package ") + path + ": " + message());
  }

  long long count() {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), "SELECT count(*) FROM OVIXFileRecord", -1, &raw, nullptr) !=
        SQLITE_OK)
      fail("cannot count the package rows: " + message());
    std::unique_ptr<sqlite3_stmt, StmtCloser> stmt(raw);
    if (sqlite3_step(raw) != SQLITE_ROW) fail("cannot count the package rows: " + message());
    return sqlite3_column_int64(raw, 0);
  }

  void startRows() {
    sqlite3_stmt* raw = nullptr;
    const char* sql =
        "SELECT rowid, m_skey, m_crc, m_guid, m_version, typeof(m_stream), length(m_stream) "
        "FROM OVIXFileRecord";
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK)
      fail("cannot read the package rows: " + message());
    rows_.reset(raw);
  }

  // The next row into *row; false after the last one.
  bool next(Row* row) {
    sqlite3_stmt* s = rows_.get();
    int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) fail("cannot read the package rows: " + message());
    row->rowid = sqlite3_column_int64(s, 0);
    row->skey = text(s, 1, nullptr);
    row->crc = text(s, 2, &row->crcNull);
    row->guid = text(s, 3, &row->guidNull);
    row->versionNull = sqlite3_column_type(s, 4) == SQLITE_NULL;
    row->version = sqlite3_column_int64(s, 4);
    const char* type = reinterpret_cast<const char*>(sqlite3_column_text(s, 5));
    row->streamNull = type == nullptr || std::strcmp(type, "null") == 0;
    row->streamBytes = row->streamNull ? 0 : sqlite3_column_int64(s, 6);
    return true;
  }

  // Calls sink(data, n) for each chunk of at most 1 MiB of the row's blob.
  template <typename Sink>
  void readStream(const Row& row, Sink&& sink) {
    if (row.streamNull || row.streamBytes == 0) return;
    if (!blob_) {
      sqlite3_blob* raw = nullptr;
      if (sqlite3_blob_open(db_.get(), "main", "OVIXFileRecord", "m_stream", row.rowid, 0, &raw) !=
          SQLITE_OK) {
        sqlite3_blob_close(raw);
        fail("cannot open the blob of " + row.skey + ": " + message());
      }
      blob_.reset(raw);
    } else if (sqlite3_blob_reopen(blob_.get(), row.rowid) != SQLITE_OK) {
      fail("cannot open the blob of " + row.skey + ": " + message());
    }
    int size = sqlite3_blob_bytes(blob_.get());
    if (size != row.streamBytes) fail("the blob of " + row.skey + " changed size");
    buffer_.resize(kChunk);
    for (int at = 0; at < size;) {
      int n = size - at < kChunk ? size - at : kChunk;
      if (sqlite3_blob_read(blob_.get(), buffer_.data(), n, at) != SQLITE_OK)
        fail("cannot read the blob of " + row.skey + ": " + message());
      sink(buffer_.data(), static_cast<size_t>(n));
      at += n;
    }
  }

 private:
  std::string message() { return db_ ? sqlite3_errmsg(db_.get()) : "out of memory"; }

  static std::string text(sqlite3_stmt* s, int column, bool* isNull) {
    const unsigned char* value = sqlite3_column_text(s, column);
    if (isNull != nullptr) *isNull = value == nullptr;
    if (value == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(value),
                       static_cast<size_t>(sqlite3_column_bytes(s, column)));
  }

  std::unique_ptr<sqlite3, SqliteCloser> db_;
  std::unique_ptr<sqlite3_stmt, StmtCloser> rows_;
  std::unique_ptr<sqlite3_blob, BlobCloser> blob_;
  std::vector<char> buffer_;
};

// ---- the server side --------------------------------------------------------

struct MysqlCloser {
  void operator()(MYSQL* mysql) const { mysql_close(mysql); }
};
using Mysql = std::unique_ptr<MYSQL, MysqlCloser>;

Mysql connect(const char* host, unsigned port, bool localInfile) {
  Mysql mysql(mysql_init(nullptr));
  if (!mysql) fail("cannot create a client handle");
  const char* file = std::getenv("OVIX_MYSQL_CNF");
  if (file != nullptr && *file != '\0') {
    if (::access(file, R_OK) != 0) fail(std::string("cannot read the option file ") + file);
    mysql_optionsv(mysql.get(), MYSQL_READ_DEFAULT_FILE, file);
  }
  mysql_optionsv(mysql.get(), MYSQL_READ_DEFAULT_GROUP, "client");
  mysql_optionsv(mysql.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
  my_bool verify = 1;
  mysql_optionsv(mysql.get(), MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
  if (localInfile) {
    unsigned int on = 1;
    mysql_optionsv(mysql.get(), MYSQL_OPT_LOCAL_INFILE, &on);
  }
  if (mysql_real_connect(mysql.get(), host, nullptr, nullptr, nullptr, port, nullptr, 0) ==
      nullptr)
    fail(std::string("cannot connect to ") + host + ":" + std::to_string(port) + ": " +
         mysql_error(mysql.get()));
  return mysql;
}

void run(MYSQL* mysql, const std::string& sql) {
  if (mysql_real_query(mysql, sql.data(), sql.size()) != 0)
    fail("\"" + sql.substr(0, 200) + "\" failed: " + mysql_error(mysql));
  // Drain a result, if any, so that the next statement may run.
  MYSQL_RES* result = mysql_store_result(mysql);
  if (result != nullptr) mysql_free_result(result);
}

long long countRows(MYSQL* mysql, const std::string& table) {
  std::string sql = "SELECT COUNT(*) FROM " + table;
  if (mysql_real_query(mysql, sql.data(), sql.size()) != 0)
    fail("cannot count the rows of the table: " + std::string(mysql_error(mysql)));
  MYSQL_RES* result = mysql_store_result(mysql);
  if (result == nullptr) fail("cannot count the rows of the table: " + std::string(mysql_error(mysql)));
  MYSQL_ROW r = mysql_fetch_row(result);
  long long n = r != nullptr && r[0] != nullptr ? std::atoll(r[0]) : -1;
  mysql_free_result(result);
  return n;
}

// Creates DB when missing and TABLE afresh; returns the quoted `DB`.`TABLE`.
std::string prepareTable(MYSQL* mysql, const std::string& db, const std::string& table) {
  run(mysql, "CREATE DATABASE IF NOT EXISTS " + quoteName(db) +
                 " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
  std::string name = quoteName(db) + "." + quoteName(table);
  run(mysql, "DROP TABLE IF EXISTS " + name);
  run(mysql, "CREATE TABLE " + name +
                 " (m_skey VARCHAR(760) NOT NULL PRIMARY KEY, m_crc VARCHAR(32), "
                 "m_guid VARCHAR(64), m_version INT, m_stream LONGBLOB) "
                 "ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin");
  return name;
}

// ---- prepared INSERT per row -----------------------------------------------

long long loadPrepared(Package& package, MYSQL* mysql, const std::string& table,
                       long long* bytes) {
  struct StmtClose {
    void operator()(MYSQL_STMT* stmt) const { mysql_stmt_close(stmt); }
  };
  std::unique_ptr<MYSQL_STMT, StmtClose> stmt(mysql_stmt_init(mysql));
  if (!stmt) fail("cannot create a statement");
  std::string sql = "INSERT INTO " + table +
                    " (m_skey, m_crc, m_guid, m_version, m_stream) VALUES (?, ?, ?, ?, ?)";
  if (mysql_stmt_prepare(stmt.get(), sql.data(), sql.size()) != 0)
    fail("cannot prepare the INSERT: " + std::string(mysql_stmt_error(stmt.get())));

  run(mysql, "START TRANSACTION");
  Row row;
  long long rows = 0;
  package.startRows();
  while (package.next(&row)) {
    MYSQL_BIND bind[5];
    std::memset(bind, 0, sizeof bind);
    unsigned long lengths[5] = {};
    my_bool nulls[5] = {};

    bind[0].buffer_type = MYSQL_TYPE_STRING;
    bind[0].buffer = row.skey.data();
    lengths[0] = row.skey.size();

    bind[1].buffer_type = MYSQL_TYPE_STRING;
    bind[1].buffer = row.crc.data();
    lengths[1] = row.crc.size();
    nulls[1] = row.crcNull;

    bind[2].buffer_type = MYSQL_TYPE_STRING;
    bind[2].buffer = row.guid.data();
    lengths[2] = row.guid.size();
    nulls[2] = row.guidNull;

    bind[3].buffer_type = MYSQL_TYPE_LONGLONG;
    bind[3].buffer = &row.version;
    nulls[3] = row.versionNull;

    // The blob goes with send_long_data.  The buffer must not be null, as
    // that would send NULL for an empty blob that sends no data.
    static char empty = 0;
    bind[4].buffer_type = MYSQL_TYPE_LONG_BLOB;
    bind[4].buffer = &empty;
    lengths[4] = 0;
    nulls[4] = row.streamNull;

    for (int i = 0; i < 5; ++i) {
      bind[i].length = &lengths[i];
      bind[i].is_null = &nulls[i];
    }
    if (mysql_stmt_bind_param(stmt.get(), bind) != 0)
      fail("cannot bind the parameters: " + std::string(mysql_stmt_error(stmt.get())));
    package.readStream(row, [&](const char* data, size_t n) {
      if (mysql_stmt_send_long_data(stmt.get(), 4, data, n) != 0)
        fail("cannot send the blob of " + row.skey + ": " + mysql_stmt_error(stmt.get()));
    });
    if (mysql_stmt_execute(stmt.get()) != 0)
      fail("cannot insert " + row.skey + ": " + mysql_stmt_error(stmt.get()));
    *bytes += row.streamBytes;
    ++rows;
  }
  run(mysql, "COMMIT");
  return rows;
}

// ---- LOAD DATA LOCAL INFILE -------------------------------------------------

class Output {
 public:
  explicit Output(const std::string& path) : file_(std::fopen(path.c_str(), "wb")), path_(path) {
    if (file_ == nullptr) fail("cannot create " + path + ": " + std::strerror(errno));
    buffer_.reserve(kBuffer + 2 * kChunk);
  }
  ~Output() {
    if (file_ != nullptr) std::fclose(file_);
  }
  void put(char c) {
    buffer_.push_back(c);
    if (buffer_.size() >= kBuffer) flush();
  }
  void put(const char* data, size_t n) {
    buffer_.append(data, n);
    if (buffer_.size() >= kBuffer) flush();
  }
  // A text field in the default LOAD DATA escaping; NULL as \N.
  void field(const std::string& value, bool isNull) {
    if (isNull) {
      put("\\N", 2);
      return;
    }
    for (char c : value) {
      switch (c) {
        case '\\': put("\\\\", 2); break;
        case '\t': put("\\t", 2); break;
        case '\n': put("\\n", 2); break;
        case '\r': put("\\r", 2); break;
        case '\0': put("\\0", 2); break;
        default: put(c);
      }
    }
  }
  void hex(const char* data, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    size_t at = buffer_.size();
    buffer_.resize(at + 2 * n);
    char* out = buffer_.data() + at;
    for (size_t i = 0; i < n; ++i) {
      unsigned char b = static_cast<unsigned char>(data[i]);
      out[2 * i] = digits[b >> 4];
      out[2 * i + 1] = digits[b & 15];
    }
    if (buffer_.size() >= kBuffer) flush();
  }
  void close() {
    flush();
    if (std::fclose(file_) != 0) {
      file_ = nullptr;
      fail("cannot write " + path_ + ": " + std::strerror(errno));
    }
    file_ = nullptr;
  }

 private:
  static constexpr size_t kBuffer = 4 << 20;
  void flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
      fail("cannot write " + path_ + ": " + std::strerror(errno));
    buffer_.clear();
  }
  FILE* file_;
  std::string path_;
  std::string buffer_;
};

long long loadData(Package& package, MYSQL* mysql, const std::string& table,
                   const std::string& workdir, long long* bytes) {
  std::string path = workdir + "/ovix_bench_loader." + std::to_string(::getpid()) + ".tsv";
  long long rows = 0;
  {
    Output out(path);
    Row row;
    package.startRows();
    while (package.next(&row)) {
      out.field(row.skey, false);
      out.put('\t');
      out.field(row.crc, row.crcNull);
      out.put('\t');
      out.field(row.guid, row.guidNull);
      out.put('\t');
      if (row.versionNull) {
        out.put("\\N", 2);
      } else {
        std::string v = std::to_string(row.version);
        out.put(v.data(), v.size());
      }
      out.put('\t');
      if (row.streamNull) out.put("\\N", 2);
      package.readStream(row, [&](const char* data, size_t n) { out.hex(data, n); });
      out.put('\n');
      *bytes += row.streamBytes;
      ++rows;
    }
    out.close();
  }

  std::string escaped(path.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(mysql, escaped.data(), path.data(), path.size()));
  run(mysql, "START TRANSACTION");
  std::string sql = "LOAD DATA LOCAL INFILE '" + escaped + "' INTO TABLE " + table +
                    " CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' "
                    "LINES TERMINATED BY '\\n' (m_skey, m_crc, m_guid, m_version, @stream) "
                    "SET m_stream = UNHEX(@stream)";
  if (mysql_real_query(mysql, sql.data(), sql.size()) != 0) {
    std::string error = mysql_error(mysql);
    std::remove(path.c_str());
    fail("LOAD DATA failed: " + error);
  }
  unsigned warnings = mysql_warning_count(mysql);
  std::remove(path.c_str());
  if (warnings != 0) fail("LOAD DATA gave " + std::to_string(warnings) + " warnings");
  run(mysql, "COMMIT");
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) usage();
  std::string mode = argv[1];
  bool prepared = mode == "prepared" && argc == 7;
  bool loaddata = mode == "loaddata" && argc == 8;
  if (!prepared && !loaddata) usage();
  const char* packagePath = argv[2];
  const char* host = argv[3];
  char* end = nullptr;
  unsigned long port = std::strtoul(argv[4], &end, 10);
  if (*argv[4] == '\0' || *end != '\0' || port == 0 || port > 65535) usage();
  std::string db = argv[5];
  std::string table = argv[6];

  auto start = std::chrono::steady_clock::now();
  mysql_library_init(0, nullptr, nullptr);
  Package package(packagePath);
  long long expected = package.count();
  Mysql mysql = connect(host, static_cast<unsigned>(port), loaddata);
  std::string name = prepareTable(mysql.get(), db, table);
  long long bytes = 0;
  long long rows = prepared ? loadPrepared(package, mysql.get(), name, &bytes)
                            : loadData(package, mysql.get(), name, argv[7], &bytes);
  long long stored = countRows(mysql.get(), name);
  if (rows != expected || stored != expected)
    fail("the package holds " + std::to_string(expected) + " rows, read " + std::to_string(rows) +
         ", the table holds " + std::to_string(stored));
  mysql.reset();
  mysql_library_end();
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("rows=%lld bytes=%lld seconds=%.3f\n", rows, bytes, seconds);
  return 0;
}
