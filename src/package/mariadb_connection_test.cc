// Runs against the private MariaDB of the test script (testing/server_backends.h);
// skipped without it, or failed when OVIX_REQUIRE_MARIADB=1.

#include "package/mariadb_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <fstream>
#include <thread>

#include "testing/scoped_env.h"
#include "testing/server_backends.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::ScopedEnv;
using ovix::testing::StringSink;
using ovix::testing::TempDir;
using zddb::StepResult;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// The option file of OVIX_MYSQL_CNF with the line of `key` replaced by
// `replacement` ("" drops it); *old gets that line's value.
std::string optionsWith(const std::string& key, const std::string& replacement,
                        std::string* old = nullptr) {
  std::ifstream in(std::getenv("OVIX_MYSQL_CNF") ? std::getenv("OVIX_MYSQL_CNF") : "");
  std::string text;
  for (std::string line; std::getline(in, line);) {
    bool match = line.rfind(key + "=", 0) == 0;
    if (match && old) *old = line.substr(key.size() + 1);
    if (!match || !replacement.empty()) text += (match ? replacement : line) + "\n";
  }
  return text;
}

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void closeSocket(Socket s) { ::closesocket(s); }
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void closeSocket(Socket s) { ::close(s); }
#endif

// A TCP socket bound to a free port of 127.0.0.1, listening when `listen`.
Socket loopbackSocket(std::string* port, bool listen) {
#ifdef _WIN32
  WSADATA wsa;  // counted: every call may start Winsock again
  ::WSAStartup(MAKEWORD(2, 2), &wsa);
  int len = sizeof(sockaddr_in);
#else
  socklen_t len = sizeof(sockaddr_in);
#endif
  Socket fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  if (listen) ::listen(fd, 1);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = std::to_string(ntohs(addr.sin_port));
  return fd;
}

// Gives `bytes` while announcing `size` bytes; fails after `failAfter` reads.
struct StringSource : zddb::BlobSource {
  explicit StringSource(std::string b, int64_t size = -1)
      : bytes(std::move(b)), announced(size < 0 ? static_cast<int64_t>(bytes.size()) : size) {}
  int64_t size() const override { return announced; }
  bool read(char* buf, size_t n, size_t* got) override {
    if (++reads > failAfter && failAfter >= 0) return false;
    offset += (*got = bytes.copy(buf, n, offset));
    return true;
  }
  std::string bytes;
  int64_t announced;
  size_t offset = 0;
  int failAfter = -1, reads = 0;
};

// Bad ports and an unreadable option file are refused before connecting; a
// fake server that greets as MariaDB 10.11 without TLS (protocol 10, no SSL
// capability, native password) is refused and waits for the client to hang up.
TEST(MariaDbServerTest, BadPortsOptionFilesAndServersWithoutTlsAreRefused) {
  std::string port, error;
  for (const char* bad :
       {"", "0", "65536", "99999999999", "-1", "+3306", " 3306", "3306x", "abc"}) {
    EXPECT_EQ(zddb::openMariaDbServer("127.0.0.1", bad, &error), nullptr) << bad;
    EXPECT_THAT(error, HasSubstr("port")) << bad;
  }
  Socket listener = loopbackSocket(&port, true);
  std::thread server([listener] {
    Socket client = ::accept(listener, nullptr, nullptr);
    if (client == kNoSocket) return;
    static const char kGreeting[] =
        "\x0a" "5.5.5-10.11.19-MariaDB" "\0" "\x06\0\0\0" "oP$a<I:&" "\0" "\xfe\xf7" "\x08"
        "\x02\0" "\xff\x81" "\x15" "\0\0\0\0\0\0" "\x1d\0\0\0" "N8m<$>K>4*u2" "\0"
        "mysql_native_password";
    std::string packet = {static_cast<char>(sizeof kGreeting), 0, 0, 0};
    packet.append(kGreeting, sizeof kGreeting);  // with the name's terminating NUL
    (void)!::send(client, packet.data(), static_cast<int>(packet.size()), 0);
    for (char buf[256]; ::recv(client, buf, sizeof buf, 0) > 0;) {
    }
    closeSocket(client);
  });
  TempDir dir;
  ScopedEnv cnf("OVIX_MYSQL_CNF", dir.write("client.cnf", "[client]\nuser=u\npassword=p\n"));
  EXPECT_EQ(zddb::openMariaDbServer("127.0.0.1", port, &error), nullptr);
#ifdef _WIN32
  ::shutdown(listener, SD_BOTH);
  closeSocket(listener);  // a listening socket's shutdown does not end accept here
  server.join();
#else
  ::shutdown(listener, SHUT_RDWR);
  server.join();
  closeSocket(listener);
#endif
  EXPECT_THAT(error, AllOf(HasSubstr("server does not support"),
                           HasSubstr("set ssl-verify-server-cert=0")));
  ScopedEnv missing("OVIX_MYSQL_CNF", "/nonexistent/ovix-client.cnf");
  EXPECT_EQ(zddb::openMariaDbServer("127.0.0.1", "3306", &error), nullptr);
  EXPECT_THAT(error, HasSubstr("/nonexistent/ovix-client.cnf"));
}

// A connection to a fresh database of the test server, dropped afterwards,
// with a table t(k key, v).
class MariaDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OVIX_REQUIRE_SERVER(scratch_);
    std::string error;
    server_ = zddb::openMariaDbServer(scratch_.address(), scratch_.port(), &error);
    ASSERT_NE(server_, nullptr) << error;
    conn_ = server_->connect(scratch_.createDatabase("ovix_test"));
    ASSERT_NE(conn_, nullptr) << server_->lastError();
    ASSERT_TRUE(conn_->execute("CREATE TABLE t (" +
                               conn_->columnDefinition({"k", zddb::FieldKind::kText}, true) + ", " +
                               conn_->columnDefinition({"v", zddb::FieldKind::kLongBlob}, false) +
                               ")" + conn_->tableOptions()))
        << conn_->lastError();
    put_ = conn_->prepare("INSERT INTO t (k, v) VALUES (?, ?)");
    ASSERT_NE(put_, nullptr) << conn_->lastError();
  }

  // Inserts `key` with the bytes of `source`, or with `bytes` without one.
  // The key is overwritten before the step: a bound text is the statement's.
  StepResult put(std::string key, StringSource* source, std::string_view bytes = {}) {
    put_->bindText(0, key);
    if (source) {
      put_->bindBlobSource(1, source, {"t", "v", "k", key});
    } else {
      put_->bindBlob(1, bytes.data(), bytes.size());
    }
    key.assign(key.size(), 'x');
    return put_->step();
  }

  int64_t count() {
    auto st = conn_->prepare("SELECT COUNT(*) FROM t");
    return st && st->step() == StepResult::kRow ? st->columnInt(0) : -1;
  }

  ovix::testing::ScratchServer scratch_{ovix::testing::Backend::kMariaDb};
  std::unique_ptr<zddb::Server> server_;
  std::unique_ptr<zddb::Connection> conn_;
  std::unique_ptr<zddb::Statement> put_;
};

// Without the CA named in the test server's option file its certificate
// cannot be verified and the connection must be refused.
TEST_F(MariaDbTest, FailedConnectionsExplainWithoutThePasswordAndTlsIsVerified) {
  const std::string& host = scratch_.address();
  std::string password, closedPort, error, ca;
  optionsWith("password", "", &password);
  ASSERT_FALSE(password.empty());
  closeSocket(loopbackSocket(&closedPort, false));
  EXPECT_EQ(zddb::openMariaDbServer(host, closedPort, &error), nullptr);
  EXPECT_THAT(error, AllOf(HasSubstr("cannot connect"), Not(HasSubstr(password))));
  EXPECT_EQ(server_->connect("no_such_database_ovix"), nullptr);
  EXPECT_THAT(server_->lastError(), HasSubstr("Unknown database"));

  TempDir dir;
  const std::string wrong = "Wr0ngPassw0rdForOvixTests";
  {
    ScopedEnv cnf("OVIX_MYSQL_CNF",
                  dir.write("a.cnf", optionsWith("password", "password=" + wrong)));
    EXPECT_EQ(zddb::openMariaDbServer(host, scratch_.port(), &error), nullptr);
    EXPECT_THAT(error, AllOf(HasSubstr("Access denied"), Not(HasSubstr(wrong))));
  }
  if (optionsWith("ssl-ca", "", &ca); ca.empty()) GTEST_SKIP() << "the option file names no CA: the test server has no TLS, "
                    "or (Wine) its certificate is not checked";
  auto st = conn_->prepare("SHOW SESSION STATUS LIKE 'Ssl_cipher'");
  ASSERT_TRUE(st && st->step() == StepResult::kRow) << conn_->lastError();
  EXPECT_NE(st->columnBytes(1), "");
  ScopedEnv cnf("OVIX_MYSQL_CNF", dir.write("no-ca.cnf", optionsWith("ssl-ca", "")));
  EXPECT_EQ(zddb::openMariaDbServer(host, scratch_.port(), &error), nullptr);
  EXPECT_THAT(error, AllOf(HasSubstr("certificate"), HasSubstr("ssl-ca")));
}

// A source that fails, gives less than it announced or is larger than the
// server takes (refused before a byte is read) leaves the connection usable
// and no row behind.
TEST_F(MariaDbTest, AStreamThatCannotBeSentLeavesNothingBehind) {
  auto limit = conn_->prepare("SELECT @@max_allowed_packet");
  ASSERT_EQ(limit->step(), StepResult::kRow);
  EXPECT_EQ(conn_->maxValueBytes(), static_cast<uint64_t>(limit->columnInt(0)));
  std::string bytes(5 << 20, 'x');
  StringSource failing(bytes), shortSource(bytes, 6 << 20),
      huge("", static_cast<int64_t>(conn_->maxValueBytes()) + 1);
  failing.failAfter = 2;  // after 2 MiB have been sent
  const std::pair<StringSource*, const char*> faults[] = {
      {&failing, "blob source"}, {&shortSource, "announced"}, {&huge, "max_allowed_packet"}};
  for (const auto& [source, reason] : faults) {
    EXPECT_EQ(put("a", source), StepResult::kError) << reason;
    EXPECT_THAT(conn_->lastError(), HasSubstr(reason));
    EXPECT_EQ(count(), 0) << reason;
  }
  EXPECT_EQ(huge.reads, 0);
}

// Bound texts and blobs come back byte for byte: an empty text, one holding
// NUL and an empty blob, which must not turn into NULL.
TEST_F(MariaDbTest, ColumnTypesNullsAndNumbers) {
  using enum zddb::ColumnType;
  auto st = conn_->prepare(
      "SELECT 42, -7.25, CAST(0.1 AS DOUBLE), 'text', NULL, X'00FF', ?, ?, ?, "
      "CAST(18446744073709551615 AS UNSIGNED), DATE('2024-02-29'), ?, ?, ?");
  ASSERT_NE(st, nullptr) << conn_->lastError();
  const std::string nul("nul\0inside", 10);
  ASSERT_TRUE(st->bindInt(0, INT64_MIN) && st->bindDouble(1, 0.1) && st->bindNull(2) &&
              st->bindText(3, "") && st->bindText(4, nul) && st->bindBlob(5, nullptr, 0));
  ASSERT_EQ(st->step(), StepResult::kRow) << conn_->lastError();
  const std::pair<zddb::ColumnType, std::optional<std::string>> columns[] = {
      {kInteger, "42"}, {kDouble, {}}, {kDouble, {}}, {kText, "text"}, {kNull, ""},
      {kBlob, std::string("\0\xFF", 2)}, {kInteger, {}}, {kDouble, {}}, {kNull, {}},
      {kInteger, "18446744073709551615"}, {kText, "2024-02-29"}, {kText, ""}, {kText, nul},
      {kBlob, ""}};
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(st->columnType(i), columns[i].first) << "column " << i;
    if (columns[i].second) {
      EXPECT_EQ(st->columnBytes(i), *columns[i].second) << "column " << i;
    }
  }
  EXPECT_TRUE(st->columnInt(0) == 42 && st->columnInt(4) == 0 && st->columnInt(6) == INT64_MIN);
  EXPECT_TRUE(st->columnDouble(1) == -7.25 && st->columnDouble(2) == 0.1 &&
              st->columnDouble(7) == 0.1);
  EXPECT_EQ(st->step(), StepResult::kDone);
  EXPECT_FALSE(st->bindInt(6, 1));
  EXPECT_THAT(conn_->lastError(), HasSubstr("out of range"));
}

// A table of every kind of column the program's tables use is made and
// listed; database names are refused before they reach a statement.
TEST_F(MariaDbTest, TablesOfEveryColumnKindAndNamesRefused) {
  std::string sql = "CREATE TABLE patch (" +
                    conn_->columnDefinition({"m_skey", zddb::FieldKind::kText}, true);
  for (const zddb::FieldSpec& f : {zddb::FieldSpec{"m_text", zddb::FieldKind::kText},
                                   {"m_fixed", zddb::FieldKind::kFixedText, 12},
                                   {"m_int", zddb::FieldKind::kInteger},
                                   {"m_bool", zddb::FieldKind::kBool},
                                   {"m_blob", zddb::FieldKind::kLongBlob}})
    sql += ", " + conn_->columnDefinition(f, false);
  ASSERT_TRUE(conn_->execute(sql + ")" + conn_->tableOptions())) << conn_->lastError();
  std::vector<std::string> tables;
  ASSERT_TRUE(conn_->listTables(&tables));
  EXPECT_EQ(tables, (std::vector<std::string>{"patch", "t"}));
  for (const char* bad : {"a-b", "x`; DROP DATABASE mysql; --", ""}) {
    EXPECT_FALSE(server_->createDatabase(bad)) << bad;
    EXPECT_THAT(server_->lastError(), HasSubstr("invalid database name"));
  }
}

// Rows are streamed from the server; other work on the connection meanwhile
// makes the statement buffer the rest first.  A large value is read in
// chunks from the row it arrived in and stays readable when that happens.
TEST_F(MariaDbTest, OtherWorkMayRunWhileAStatementIsReadingRows) {
  std::string first(3 << 20, '\0');
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>(i * 7 + i / 251);
  std::string last = std::string(first.rbegin(), first.rend()) + "and 17 more bytes";
  StringSource firstSource(first), lastSource(last);
  ASSERT_EQ(put("a", &firstSource), StepResult::kDone) << conn_->lastError();
  for (int i = 10; i < 30; ++i)
    ASSERT_EQ(put("b" + std::to_string(i), nullptr, "small"), StepResult::kDone)
        << conn_->lastError();
  ASSERT_EQ(put("c", &lastSource), StepResult::kDone) << conn_->lastError();

  auto all = conn_->prepare("SELECT k, v FROM t ORDER BY k");
  ASSERT_EQ(all->step(), StepResult::kRow);
  std::unique_ptr<zddb::BlobSource> source = all->columnSource(1);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->size(), static_cast<int64_t>(first.size()));
  EXPECT_TRUE(StringSink().drain(*source, 65536).bytes == first);
  EXPECT_EQ(all->columnType(1), zddb::ColumnType::kBlob);
  std::unique_ptr<zddb::BlobSource> unread = all->columnSource(1);
  ASSERT_EQ(all->step(), StepResult::kRow);
  char buf[16];
  size_t got = 0;
  EXPECT_FALSE(unread->read(buf, sizeof buf, &got)) << "a source outlived its row";
  EXPECT_EQ(all->columnSource(1), nullptr);  // small values are lent instead
  EXPECT_EQ(all->columnBytes(1), "small");
  for (int i = 0; i < 20; ++i) ASSERT_EQ(all->step(), StepResult::kRow) << conn_->lastError();
  source = all->columnSource(1);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(count(), 22);  // other work while the source is open
  EXPECT_TRUE(StringSink().drain(*source, 1 << 20).bytes == last);
  EXPECT_EQ(all->columnBytes(1).size(), last.size());
  EXPECT_EQ(all->step(), StepResult::kDone);

  int rows = 0;  // the statement runs again after kDone
  for (StepResult r; (r = all->step()) != StepResult::kDone; ++rows) {
    ASSERT_EQ(r, StepResult::kRow) << conn_->lastError();
    std::string key = rows == 0 ? "a" : rows == 21 ? "c" : "b" + std::to_string(9 + rows);
    EXPECT_EQ(all->columnBytes(0), key);
    if (rows == 3) {
      EXPECT_EQ(put("z", nullptr, "added while reading"), StepResult::kDone);
    }
  }
  EXPECT_EQ(rows, 22);  // rows read before the insert
}

}  // namespace
