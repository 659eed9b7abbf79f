// The backends server tests run on: the embedded store in a temporary folder
// and the private MariaDB of the test script (OVIX_TEST_MARIADB_HOST/PORT,
// credentials in OVIX_MYSQL_CNF's option file).  Without it MariaDB tests
// are skipped, unless OVIX_REQUIRE_MARIADB=1 makes that a failure.

#ifndef OVIX_TESTING_SERVER_BACKENDS_H_
#define OVIX_TESTING_SERVER_BACKENDS_H_

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "package/db_connection.h"
#include "testing/temp_dir.h"

namespace ovix::testing {

enum class Backend { kEmbedded, kMariaDb };

std::string backendName(Backend backend);
// Both backends, for INSTANTIATE_TEST_SUITE_P.
std::vector<Backend> allServerBackends();

// A server of one backend with fresh databases that are dropped afterwards.
class ScratchServer {
 public:
  explicit ScratchServer(Backend backend);
  ~ScratchServer();

  // False when the backend is not available here; reason() tells why.
  bool available() const { return available_; }
  const std::string& reason() const { return reason_; }
  // True when a missing backend must fail the test instead of skipping it.
  static bool required();

  const std::string& address() const { return address_; }
  const std::string& port() const { return port_; }
  // Creates the database `name` made unique by a suffix; returns that name.
  std::string createDatabase(const std::string& name);
  // The unique name `name` gets, created or not.
  std::string databaseName(const std::string& name) const;
  // "address,port,database" as the program writes it.
  std::string connectionText(const std::string& database) const;

  // Gives the fixed databases (patch store, general database) a prefix of
  // their own for this object's life, so that tests at once do not meet;
  // returns the prefix.  Its databases are dropped afterwards.
  std::string useNamespace();
  // Runs statements on the database `name` (created when missing).
  bool execute(const std::string& name, const std::string& sql);

 private:
  Backend backend_;
  bool available_ = false;
  std::string reason_;
  std::string address_;
  std::string port_;
  std::string suffix_;
  std::vector<std::string> created_;
  std::string namespace_;
  std::unique_ptr<TempDir> dir_;
};

// Collects a value read from a store and the largest piece it came in.
struct StringSink : zddb::BlobSink {
  bool write(const char* data, size_t n) override {
    largest = std::max(largest, n);
    bytes.append(data, n);
    return true;
  }
  // Reads `source` to its end, `chunk` bytes at a time.
  StringSink& drain(zddb::BlobSource& source, size_t chunk) {
    std::vector<char> buf(chunk);
    for (size_t got = 0; source.read(buf.data(), chunk, &got) && got > 0;) write(buf.data(), got);
    return *this;
  }
  std::string bytes;
  size_t largest = 0;
};

}  // namespace ovix::testing

// Skips (or fails, when required) a test whose server is not available.
#define OVIX_REQUIRE_SERVER(server)                                       \
  do {                                                                    \
    if (!(server).available()) {                                          \
      if (::ovix::testing::ScratchServer::required()) {                   \
        FAIL() << (server).reason();                                      \
      } else {                                                            \
        GTEST_SKIP() << (server).reason();                                \
      }                                                                   \
    }                                                                     \
  } while (0)

#endif  // OVIX_TESTING_SERVER_BACKENDS_H_
