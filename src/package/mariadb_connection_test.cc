// Runs against the server named by OVIX_TEST_MARIADB_HOST and
// OVIX_TEST_MARIADB_PORT, logging in with the option file OVIX_MYSQL_CNF
// (scripts/mariadb-test-server.sh starts one).  Without them the tests that
// need a server are skipped, or fail when OVIX_REQUIRE_MARIADB=1.

#include "package/mariadb_connection.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "testing/scoped_env.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::ScopedEnv;
using ovix::testing::TempDir;
using zddb::BlobLocation;
using zddb::ColumnType;
using zddb::Connection;
using zddb::StepResult;

std::string envOr(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The option file of OVIX_MYSQL_CNF with the line of `key` replaced by
// `replacement` ("" drops it); *old gets that line's value.
std::string optionsWith(const std::string& key, const std::string& replacement,
                        std::string* old = nullptr) {
  std::ifstream in(envOr("OVIX_MYSQL_CNF"));
  std::string text;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + "=", 0) != 0) {
      text += line + "\n";
    } else {
      if (old) *old = line.substr(key.size() + 1);
      if (!replacement.empty()) text += replacement + "\n";
    }
  }
  return text;
}

std::string optionValue(const std::string& key) {
  std::string value;
  optionsWith(key, "", &value);
  return value;
}

// A TCP socket bound to a free port of 127.0.0.1, listening when `listen`.
int loopbackSocket(std::string* port, bool listen) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  if (listen) ::listen(fd, 1);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = std::to_string(ntohs(addr.sin_port));
  return fd;
}

// Deterministic pseudo-random bytes, streamed without being held whole: the
// source announces `size` bytes, gives `gives` and fails after `failAfter` reads.
class PatternSource : public zddb::BlobSource {
 public:
  explicit PatternSource(int64_t size, int64_t gives = -1)
      : size_(size), left_(gives < 0 ? size : gives) {}
  int64_t size() const override { return size_; }
  bool read(char* buf, size_t n, size_t* got) override {
    if (++reads > failAfter && failAfter >= 0) return false;
    *got = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), left_));
    for (size_t i = 0; i < *got; ++i) {
      state_ ^= state_ << 13, state_ ^= state_ >> 7, state_ ^= state_ << 17;
      buf[i] = static_cast<char>(state_);
    }
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(buf), static_cast<uInt>(*got));
    left_ -= static_cast<int64_t>(*got);
    return true;
  }
  int failAfter = -1, reads = 0;
  uLong crc = ::crc32(0, nullptr, 0);

 private:
  int64_t size_, left_;
  uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

class CrcSink : public zddb::BlobSink {
 public:
  bool write(const char* data, size_t n) override {
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n));
    bytes += n, ++chunks, largest = std::max(largest, n);
    return true;
  }
  // Reads `source` to its end, `chunk` bytes at a time.
  CrcSink& drain(zddb::BlobSource& source, size_t chunk) {
    std::vector<char> buf(chunk);
    for (size_t got = 0; source.read(buf.data(), chunk, &got) && got > 0;) write(buf.data(), got);
    return *this;
  }
  uLong crc = ::crc32(0, nullptr, 0);
  size_t bytes = 0, chunks = 0, largest = 0;
};

TEST(MariaDbServerTest, BadPortsAndUnreadableOptionFilesAreRefusedBeforeConnecting) {
  for (const char* port :
       {"", "0", "65536", "99999999999", "-1", "+3306", " 3306", "3306x", "abc"}) {
    std::string error;
    EXPECT_EQ(zddb::openMariaDbServer("127.0.0.1", port, &error), nullptr) << port;
    EXPECT_NE(error.find("port"), std::string::npos) << port << ": " << error;
  }
  ScopedEnv cnf("OVIX_MYSQL_CNF", "/nonexistent/ovix-client.cnf");
  std::string error;
  EXPECT_EQ(zddb::openMariaDbServer("127.0.0.1", "3306", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/ovix-client.cnf"), std::string::npos) << error;
}

// A server on 127.0.0.1 that greets one client as a MariaDB server without
// TLS does and then waits for the client to hang up.
class ServerWithoutTls {
 public:
  ServerWithoutTls() : listener_(loopbackSocket(&port_, true)), thread_([this] { greetOne(); }) {}
  ~ServerWithoutTls() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  const std::string& port() const { return port_; }

 private:
  void greetOne() {
    int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    // The greeting of a MariaDB 10.11 server started without TLS: protocol
    // 10, capabilities without SSL, native password authentication.
    static const char kGreeting[] =
        "\x0a" "5.5.5-10.11.19-MariaDB" "\0" "\x06\0\0\0" "oP$a<I:&" "\0" "\xfe\xf7" "\x08"
        "\x02\0" "\xff\x81" "\x15" "\0\0\0\0\0\0" "\x1d\0\0\0" "N8m<$>K>4*u2" "\0"
        "mysql_native_password";
    std::string body(kGreeting, sizeof kGreeting);  // with the name's terminating NUL
    std::string packet = {static_cast<char>(body.size()), 0, 0, 0};
    packet += body;
    (void)!::write(client, packet.data(), packet.size());
    char buf[256];
    while (::read(client, buf, sizeof buf) > 0) {
    }
    ::close(client);
  }

  std::string port_;
  int listener_;
  std::thread thread_;
};

TEST(MariaDbServerTest, AServerWithoutTlsIsRefusedNamingTheOptionThatAllowsIt) {
  TempDir dir;
  ScopedEnv cnf("OVIX_MYSQL_CNF", dir.write("client.cnf", "[client]\nuser=u\npassword=p\n"));
  ServerWithoutTls server;
  std::string error;
  EXPECT_EQ(zddb::openMariaDbServer("127.0.0.1", server.port(), &error), nullptr);
  EXPECT_NE(error.find("server does not support"), std::string::npos) << error;
  EXPECT_NE(error.find("set ssl-verify-server-cert=0"), std::string::npos) << error;
}

class MariaDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = envOr("OVIX_TEST_MARIADB_HOST");
    port_ = envOr("OVIX_TEST_MARIADB_PORT");
    if (host_.empty() || port_.empty()) {
      if (envOr("OVIX_REQUIRE_MARIADB") == "1") {
        FAIL() << "OVIX_REQUIRE_MARIADB=1 but OVIX_TEST_MARIADB_HOST/PORT are not set";
      }
      GTEST_SKIP() << "no test server (OVIX_TEST_MARIADB_HOST/PORT unset)";
    }
    std::string error;
    server_ = zddb::openMariaDbServer(host_, port_, &error);
    ASSERT_NE(server_, nullptr) << error;
    db_ = "ovix_test_" + std::to_string(std::random_device{}()) + std::to_string(::getpid());
    ASSERT_FALSE(server_->databaseExists(db_));
    ASSERT_TRUE(server_->createDatabase(db_)) << server_->lastError();
    ASSERT_TRUE(server_->databaseExists(db_)) << server_->lastError();
    conn_ = server_->connect(db_);
    ASSERT_NE(conn_, nullptr) << server_->lastError();
  }

  // Drops the database through a fresh connection, which works even when a
  // failed test has left conn_ unusable.
  void TearDown() override {
    if (!server_ || db_.empty()) return;
    put_.reset();
    conn_.reset();
    auto admin = server_->connect("");
    ASSERT_NE(admin, nullptr) << server_->lastError();
    EXPECT_TRUE(admin->execute("DROP DATABASE IF EXISTS `" + db_ + "`")) << admin->lastError();
  }

  // Creates t(k key, v of `kind`) through the connection's DDL texts and
  // prepares put_ to insert into it.
  void createTable(zddb::FieldKind kind) {
    std::string sql = "CREATE TABLE t (" +
                      conn_->columnDefinition({"k", zddb::FieldKind::kText}, true) + ", " +
                      conn_->columnDefinition({"v", kind}, false) + ")" + conn_->tableOptions();
    ASSERT_TRUE(conn_->execute(sql)) << conn_->lastError();
    put_ = conn_->prepare("INSERT INTO t (k, v) VALUES (?, ?)");
    ASSERT_NE(put_, nullptr) << conn_->lastError();
  }

  bool insert(Connection& c, const std::string& key, const std::string& value) {
    auto st = c.prepare("INSERT INTO t (k, v) VALUES (?, ?)");
    return st && st->bindText(0, key) && st->bindText(1, value) && st->step() == StepResult::kDone;
  }

  // Inserts `key` with the bytes of `source`.
  StepResult putSource(const std::string& key, PatternSource* source) {
    put_->bindText(0, key);
    put_->bindBlobSource(1, source, {"t", "v", "k", key});
    return put_->step();
  }

  int64_t count(Connection& c) {
    auto st = c.prepare("SELECT COUNT(*) FROM t");
    return st && st->step() == StepResult::kRow ? st->columnInt(0) : -1;
  }

  std::string host_, port_, db_;
  std::unique_ptr<zddb::Server> server_;
  std::unique_ptr<Connection> conn_;
  std::unique_ptr<zddb::Statement> put_;
};

// The test server's option file names the CA of its certificate; without it
// the certificate cannot be verified and the connection must be refused.
TEST_F(MariaDbTest, FailedConnectionsExplainWithoutThePasswordAndTlsIsVerified) {
  std::string password = optionValue("password"), closedPort, error;
  ASSERT_FALSE(password.empty());
  ::close(loopbackSocket(&closedPort, false));
  EXPECT_EQ(zddb::openMariaDbServer(host_, closedPort, &error), nullptr);
  EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
  EXPECT_EQ(error.find(password), std::string::npos);
  EXPECT_EQ(server_->connect("no_such_database_ovix"), nullptr);
  EXPECT_NE(server_->lastError().find("Unknown database"), std::string::npos)
      << server_->lastError();

  TempDir dir;
  std::string wrong = "Wr0ngPassw0rdForOvixTests";
  {
    ScopedEnv cnf("OVIX_MYSQL_CNF",
                  dir.write("wrong.cnf", optionsWith("password", "password=" + wrong)));
    EXPECT_EQ(zddb::openMariaDbServer(host_, port_, &error), nullptr);
    EXPECT_NE(error.find("Access denied"), std::string::npos) << error;
    EXPECT_EQ(error.find(wrong), std::string::npos) << error;
  }
  if (optionValue("ssl-ca").empty()) GTEST_SKIP() << "the test server has no TLS";
  auto st = conn_->prepare("SHOW SESSION STATUS LIKE 'Ssl_cipher'");
  ASSERT_NE(st, nullptr) << conn_->lastError();
  ASSERT_EQ(st->step(), StepResult::kRow);
  EXPECT_NE(st->columnBytes(1), "");
  ScopedEnv cnf("OVIX_MYSQL_CNF", dir.write("no-ca.cnf", optionsWith("ssl-ca", "")));
  EXPECT_EQ(zddb::openMariaDbServer(host_, port_, &error), nullptr);
  EXPECT_NE(error.find("certificate"), std::string::npos) << error;
  EXPECT_NE(error.find("ssl-ca"), std::string::npos) << error;
}

// Each text is stored as a key and, prefixed, as a value: nothing is
// injected, and keys differing only in case are distinct rows.
TEST_F(MariaDbTest, BoundTextsRoundTripByteForByteAndKeysKeepTheirCase) {
  createTable(zddb::FieldKind::kText);
  const std::string texts[] = {
      "it's", "\"quoted\"", "back\\slash\\", "100% of _all_", "a; DROP TABLE t; --",
      "SELECT * FROM t WHERE 1=1 OR ''=''", "中文文本：项目名称", "", std::string("nul\0inside", 10),
      "line\nbreak\ttab", "`backtick`", "Pipe.dat", "pipe.dat", "PIPE.DAT"};
  for (const std::string& text : texts) {
    ASSERT_TRUE(insert(*conn_, text, "value of " + text)) << conn_->lastError();
  }
  EXPECT_FALSE(insert(*conn_, "pipe.dat", "duplicate"));
  auto byKey = conn_->prepare("SELECT v FROM t WHERE k = ?");
  auto byValue = conn_->prepare("SELECT k FROM t WHERE v = ?");
  ASSERT_TRUE(byKey && byValue) << conn_->lastError();
  for (const std::string& text : texts) {
    byKey->bindText(0, text);
    ASSERT_EQ(byKey->step(), StepResult::kRow) << text;
    EXPECT_EQ(byKey->columnBytes(0), "value of " + text);
    EXPECT_EQ(byKey->columnType(0), ColumnType::kText);
    EXPECT_EQ(byKey->step(), StepResult::kDone);
    byValue->bindText(0, "value of " + text);
    ASSERT_EQ(byValue->step(), StepResult::kRow) << text;
    EXPECT_EQ(byValue->columnBytes(0), text);
    byValue->reset();
  }
  EXPECT_EQ(count(*conn_), static_cast<int64_t>(std::size(texts)));
}

TEST_F(MariaDbTest, BlobsRoundTripIncludingEmptyAndStreamed) {
  createTable(zddb::FieldKind::kLongBlob);
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i * 7);
  auto run = [&](const char* key, auto bindValue) {
    put_->bindText(0, key);
    bindValue();
    return put_->step();
  };
  EXPECT_EQ(run("bytes", [&] { put_->bindBlob(1, bytes.data(), bytes.size()); }),
            StepResult::kDone);
  EXPECT_EQ(run("empty", [&] { put_->bindBlob(1, nullptr, 0); }), StepResult::kDone);
  EXPECT_EQ(run("null", [&] { put_->bindNull(1); }), StepResult::kDone);
  PatternSource emptySource(0), source(20 * 1000 * 1000 + 12345);
  EXPECT_EQ(putSource("emptysrc", &emptySource), StepResult::kDone);
  EXPECT_EQ(putSource("big", &source), StepResult::kDone) << conn_->lastError();

  struct Expect {
    const char* key;
    int64_t size;
    ColumnType type;
  };
  auto get = conn_->prepare("SELECT v FROM t WHERE k = ?");
  for (Expect e : {Expect{"bytes", 1000, ColumnType::kBlob}, {"empty", 0, ColumnType::kBlob},
                   {"emptysrc", 0, ColumnType::kBlob}, {"null", 0, ColumnType::kNull},
                   {"missing", -1, ColumnType::kNull}, {"big", source.size(), ColumnType::kBlob}}) {
    BlobLocation where{"t", "v", "k", e.key};
    EXPECT_EQ(conn_->blobSize(where), e.size) << e.key;
    CrcSink sink;
    EXPECT_EQ(conn_->readBlob(where, &sink), e.size >= 0) << e.key << conn_->lastError();
    EXPECT_EQ(sink.bytes, static_cast<size_t>(std::max<int64_t>(e.size, 0))) << e.key;
    EXPECT_LE(sink.largest, size_t{4} << 20);  // never held whole
    if (e.size > (4 << 20)) {
      EXPECT_EQ(sink.crc, source.crc);
    }
    get->bindText(0, e.key);
    get->step();
    EXPECT_EQ(get->columnType(0), e.type) << e.key;
  }
  get->bindText(0, "bytes");
  ASSERT_EQ(get->step(), StepResult::kRow);
  EXPECT_EQ(get->columnBytes(0), bytes);

  CrcSink sink;
  for (BlobLocation bad : {BlobLocation{"t; DROP", "v", "k", "x"}, {"t", "v`", "k", "x"},
                           {"t", "v", "", "x"}}) {
    EXPECT_FALSE(conn_->readBlob(bad, &sink));
    EXPECT_NE(conn_->lastError().find("plain identifier"), std::string::npos);
  }
}

TEST_F(MariaDbTest, AFailedStreamLeavesNothingBehindForTheNextRun) {
  createTable(zddb::FieldKind::kLongBlob);
  PatternSource failing(5 << 20), shortSource(3 << 20, 1 << 20), good(1500000);
  failing.failAfter = 2;  // after 2 MiB have been sent
  EXPECT_EQ(putSource("a", &failing), StepResult::kError);
  EXPECT_NE(conn_->lastError().find("blob source"), std::string::npos) << conn_->lastError();
  EXPECT_EQ(putSource("a", &shortSource), StepResult::kError);
  EXPECT_NE(conn_->lastError().find("announced"), std::string::npos) << conn_->lastError();

  ASSERT_EQ(putSource("a", &good), StepResult::kDone) << conn_->lastError();
  CrcSink sink;
  ASSERT_TRUE(conn_->readBlob({"t", "v", "k", "a"}, &sink));
  EXPECT_EQ(sink.bytes, 1500000u);
  EXPECT_EQ(sink.crc, good.crc);
}

TEST_F(MariaDbTest, ValuesAboveThePacketLimitAreRefusedBeforeSending) {
  auto st = conn_->prepare("SELECT @@max_allowed_packet");
  ASSERT_EQ(st->step(), StepResult::kRow);
  uint64_t limit = static_cast<uint64_t>(st->columnInt(0));
  EXPECT_EQ(conn_->maxValueBytes(), limit);

  createTable(zddb::FieldKind::kLongBlob);
  PatternSource huge(static_cast<int64_t>(limit) + 1, 0);
  EXPECT_EQ(putSource("huge", &huge), StepResult::kError);
  EXPECT_NE(conn_->lastError().find("max_allowed_packet"), std::string::npos);
  EXPECT_EQ(huge.reads, 0);
  EXPECT_EQ(count(*conn_), 0);  // the connection still works
}

TEST_F(MariaDbTest, ColumnTypesNullsAndNumbers) {
  auto st = conn_->prepare(
      "SELECT 42, -7.25, CAST(0.1 AS DOUBLE), 'text', NULL, X'00FF', ?, ?, ?, "
      "CAST(18446744073709551615 AS UNSIGNED), DATE('2024-02-29')");
  ASSERT_NE(st, nullptr) << conn_->lastError();
  EXPECT_EQ(st->columnCount(), 11);
  st->bindInt(0, INT64_MIN);
  st->bindDouble(1, 0.1);
  st->bindNull(2);
  ASSERT_EQ(st->step(), StepResult::kRow) << conn_->lastError();
  const ColumnType types[] = {ColumnType::kInteger, ColumnType::kDouble, ColumnType::kDouble,
                              ColumnType::kText,    ColumnType::kNull,   ColumnType::kBlob,
                              ColumnType::kInteger, ColumnType::kDouble, ColumnType::kNull,
                              ColumnType::kInteger, ColumnType::kText};
  const char* texts[] = {"42", nullptr, nullptr, "text", "", nullptr, nullptr, nullptr, nullptr,
                         "18446744073709551615", "2024-02-29"};
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(st->columnType(i), types[i]) << "column " << i;
    if (texts[i]) {
      EXPECT_EQ(st->columnBytes(i), texts[i]) << "column " << i;
    }
  }
  EXPECT_EQ(st->columnInt(0), 42);
  EXPECT_DOUBLE_EQ(st->columnDouble(1), -7.25);
  EXPECT_EQ(st->columnDouble(2), 0.1);
  EXPECT_EQ(st->columnInt(4), 0);
  EXPECT_EQ(st->columnBytes(5), std::string("\0\xFF", 2));
  EXPECT_EQ(st->columnInt(6), INT64_MIN);
  EXPECT_EQ(st->columnDouble(7), 0.1);
  EXPECT_EQ(st->columnName(3), "text");
  EXPECT_EQ(st->step(), StepResult::kDone);
  EXPECT_FALSE(st->bindInt(3, 1));
  EXPECT_NE(conn_->lastError().find("out of range"), std::string::npos);
}

TEST_F(MariaDbTest, TablesAndColumnsFromTheSchema) {
  EXPECT_FALSE(conn_->tableExists("patch"));
  std::string sql = "CREATE TABLE patch (" +
                    conn_->columnDefinition({"m_skey", zddb::FieldKind::kText}, true);
  const std::pair<zddb::FieldSpec, const char*> fields[] = {
      {{"m_text", zddb::FieldKind::kText}, "longtext"},
      {{"m_fixed", zddb::FieldKind::kFixedText, 12}, "varchar(12)"},
      {{"m_int", zddb::FieldKind::kInteger}, "int(11)"},
      {{"m_bool", zddb::FieldKind::kBool}, "int(11)"},
      {{"m_blob", zddb::FieldKind::kLongBlob}, "longblob"}};
  for (const auto& f : fields) sql += ", " + conn_->columnDefinition(f.first, false);
  ASSERT_TRUE(conn_->execute(sql + ")" + conn_->tableOptions())) << conn_->lastError();
  EXPECT_TRUE(conn_->tableExists("patch"));
  EXPECT_FALSE(conn_->tableExists("PATCH"));

  std::vector<std::string> columns;
  ASSERT_TRUE(conn_->listColumns("patch", &columns)) << conn_->lastError();
  EXPECT_EQ(columns, (std::vector<std::string>{"m_skey", "m_text", "m_fixed", "m_int", "m_bool",
                                               "m_blob"}));
  auto type = conn_->prepare(
      "SELECT column_type FROM information_schema.columns "
      "WHERE table_schema = DATABASE() AND table_name = 'patch' AND column_name = ?");
  for (const auto& f : fields) {
    type->bindText(0, f.first.name);
    ASSERT_EQ(type->step(), StepResult::kRow);
    EXPECT_EQ(type->columnBytes(0), f.second) << f.first.name;
  }
  EXPECT_FALSE(conn_->listColumns("missing", &columns));
  for (const char* bad : {"a-b", "x`; DROP DATABASE mysql; --", ""}) {
    EXPECT_FALSE(server_->createDatabase(bad)) << bad;
    EXPECT_NE(server_->lastError().find("invalid database name"), std::string::npos);
  }

  ASSERT_TRUE(conn_->execute("CREATE TABLE another (a INT)"));
  std::vector<std::string> tables;
  ASSERT_TRUE(conn_->listTables(&tables));
  EXPECT_EQ(tables, (std::vector<std::string>{"another", "patch"}));
}

TEST_F(MariaDbTest, OtherConnectionsSeeNeitherHeldLocksNorUncommittedRows) {
  std::string name = db_ + "_lock", holder;
  auto other = server_->connect(db_);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(conn_->lockNamed(name, 0, "first", &holder)) << conn_->lastError();
  EXPECT_FALSE(other->lockNamed(name, 0, "second", &holder));
  EXPECT_NE(holder.find("session "), std::string::npos) << holder;
  EXPECT_FALSE(other->lockNamed(name, 1, "second", nullptr));
  EXPECT_NE(other->lastError().find(name), std::string::npos);
  EXPECT_FALSE(other->unlockNamed(name));
  ASSERT_TRUE(conn_->unlockNamed(name)) << conn_->lastError();
  EXPECT_TRUE(other->lockNamed(name, 0, "second", &holder)) << other->lastError();
  EXPECT_EQ(holder, "");

  createTable(zddb::FieldKind::kText);
  ASSERT_TRUE(conn_->beginTransaction());
  ASSERT_TRUE(insert(*conn_, "a", "1"));
  EXPECT_EQ(count(*other), 0);
  ASSERT_TRUE(conn_->rollbackTransaction());
  EXPECT_EQ(count(*conn_), 0);
  ASSERT_TRUE(conn_->beginTransaction());
  ASSERT_TRUE(insert(*conn_, "b", "2"));
  ASSERT_TRUE(conn_->commitTransaction());
  ASSERT_TRUE(insert(*conn_, "c", "3"));  // autocommit outside transactions
  EXPECT_EQ(count(*other), 2);

  other.reset();  // closing the connection releases its lock
  EXPECT_TRUE(conn_->lockNamed(name, 5, "first", nullptr)) << conn_->lastError();
  EXPECT_TRUE(conn_->unlockNamed(name));
}

TEST_F(MariaDbTest, OtherWorkMayRunWhileAStatementIsReadingRows) {
  createTable(zddb::FieldKind::kText);
  for (int i = 0; i < 50; ++i) {
    std::string key = "k" + std::to_string(100 + i);  // dies before step()
    put_->bindText(0, key);
    put_->bindText(1, std::string(1000, static_cast<char>('a' + i % 26)));
    key.assign(key.size(), 'x');
    ASSERT_EQ(put_->step(), StepResult::kDone) << conn_->lastError();
  }
  auto all = conn_->prepare("SELECT k, v FROM t ORDER BY k");
  int rows = 0;
  for (StepResult r; (r = all->step()) != StepResult::kDone; ++rows) {
    ASSERT_EQ(r, StepResult::kRow) << conn_->lastError();
    EXPECT_EQ(all->columnBytes(0), "k" + std::to_string(100 + rows));
    if (rows == 3) {
      EXPECT_EQ(count(*conn_), 50);
      EXPECT_EQ(conn_->blobSize({"t", "v", "k", "k120"}), 1000);
    }
    if (rows == 10) {
      EXPECT_TRUE(insert(*conn_, "z", "added while reading"));
    }
  }
  EXPECT_EQ(rows, 50);  // rows read before the insert

  ASSERT_EQ(all->step(), StepResult::kRow);  // runs again after kDone
  ASSERT_EQ(all->step(), StepResult::kRow);
  ASSERT_TRUE(all->reset());
  for (rows = 0; all->step() == StepResult::kRow;) ++rows;
  EXPECT_EQ(rows, 51);
}

// A large value of a streamed row is read where it arrived, in chunks,
// instead of being copied whole first; it stays readable when other work
// makes the statement buffer its remaining rows.
TEST_F(MariaDbTest, LargeValuesAreReadInChunksFromTheRowTheyArrivedIn) {
  createTable(zddb::FieldKind::kLongBlob);
  const int64_t large = (3 << 20) + 17;
  PatternSource first(large), third(large);
  ASSERT_EQ(putSource("a", &first), StepResult::kDone) << conn_->lastError();
  ASSERT_TRUE(put_->bindText(0, "b") && put_->bindBlob(1, "small", 5));
  ASSERT_EQ(put_->step(), StepResult::kDone);
  ASSERT_EQ(putSource("c", &third), StepResult::kDone);

  auto all = conn_->prepare("SELECT k, v FROM t ORDER BY k");
  ASSERT_EQ(all->step(), StepResult::kRow);
  std::unique_ptr<zddb::BlobSource> source = all->columnSource(1);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->size(), large);
  CrcSink firstBack, thirdBack;
  firstBack.drain(*source, 65536);
  EXPECT_EQ(firstBack.bytes, static_cast<size_t>(large));
  EXPECT_EQ(firstBack.crc, first.crc);
  EXPECT_EQ(all->columnType(1), ColumnType::kBlob);
  std::unique_ptr<zddb::BlobSource> unread = all->columnSource(1);

  ASSERT_EQ(all->step(), StepResult::kRow);
  char buf[16];
  size_t got = 0;
  EXPECT_FALSE(unread->read(buf, sizeof buf, &got)) << "a source outlived its row";
  EXPECT_EQ(all->columnSource(1), nullptr);  // small values are lent instead
  EXPECT_EQ(all->columnBytes(1), "small");

  ASSERT_EQ(all->step(), StepResult::kRow);
  source = all->columnSource(1);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(count(*conn_), 3);  // other work on the connection meanwhile
  thirdBack.drain(*source, 1 << 20);
  EXPECT_EQ(thirdBack.bytes, static_cast<size_t>(large));
  EXPECT_EQ(thirdBack.crc, third.crc);
  EXPECT_EQ(all->columnBytes(1).size(), static_cast<size_t>(large));
  EXPECT_EQ(all->step(), StepResult::kDone);
}

}  // namespace
