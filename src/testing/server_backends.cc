#include "testing/server_backends.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "package/server_address.h"
#include "package/server_connection.h"
#include "platform/csv.h"
#include "testing/scoped_env.h"

namespace ovix::testing {

std::string backendName(Backend backend) {
  return backend == Backend::kEmbedded ? "Embedded" : "MariaDb";
}

std::vector<Backend> allServerBackends() { return {Backend::kEmbedded, Backend::kMariaDb}; }

bool ScratchServer::required() {
  const char* value = std::getenv("OVIX_REQUIRE_MARIADB");
  return value != nullptr && std::string(value) == "1";
}

ScratchServer::ScratchServer(Backend backend) : backend_(backend) {
  static std::atomic<int> counter{0};
  suffix_ = sharedWithChildren(
      [] { return "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++); });
  if (backend == Backend::kEmbedded) {
    dir_ = std::make_unique<TempDir>();
    address_ = "file:" + dir_->path();
    port_ = "0";
    available_ = true;
    return;
  }
  const char* host = std::getenv("OVIX_TEST_MARIADB_HOST");
  const char* port = std::getenv("OVIX_TEST_MARIADB_PORT");
  if (host == nullptr || port == nullptr) {
    reason_ = "no test MariaDB (OVIX_TEST_MARIADB_HOST/PORT unset)";
    return;
  }
  address_ = host;
  port_ = port;
  std::string error;
  available_ = zddb::openServer(address_, port_, &error) != nullptr;
  if (!available_) reason_ = "test MariaDB not reachable: " + error;
}

ScratchServer::~ScratchServer() {
  if (!namespace_.empty()) setEnvVar(kDatabasePrefixVariable, nullptr);
  // A replaying child's databases are its parent's, who drops them.
  if (backend_ != Backend::kMariaDb || !available_ || isChildReplay()) return;
  std::string error;
  std::unique_ptr<zddb::Server> server = zddb::openServer(address_, port_, &error);
  if (!server) return;
  std::unique_ptr<zddb::Connection> connection = server->connect("");
  if (!connection) return;
  std::vector<std::string> drop = created_;
  if (!namespace_.empty()) {
    auto stmt = connection->prepare(
        "SELECT schema_name FROM information_schema.schemata WHERE schema_name LIKE ?");
    if (stmt && stmt->bindText(0, namespace_ + "%")) {
      while (stmt->step() == zddb::StepResult::kRow) drop.push_back(stmt->columnBytes(0));
    }
  }
  for (const std::string& name : drop)
    connection->execute("DROP DATABASE IF EXISTS " + zddb::quoteIdentifier(name));
}

std::string ScratchServer::useNamespace() {
  namespace_ = "t" + suffix_.substr(1) + "_";
  setEnvVar(kDatabasePrefixVariable, namespace_.c_str());
  return namespace_;
}

bool ScratchServer::execute(const std::string& name, const std::string& sql) {
  std::string error;
  std::unique_ptr<zddb::Server> server = zddb::openServer(address_, port_, &error);
  if (!server) return false;
  if (!server->databaseExists(name) && !server->createDatabase(name)) return false;
  if (backend_ == Backend::kMariaDb && std::find(created_.begin(), created_.end(), name) == created_.end())
    created_.push_back(name);
  std::unique_ptr<zddb::Connection> connection = server->connect(name);
  return connection && connection->execute(sql);
}

std::string ScratchServer::databaseName(const std::string& name) const { return name + suffix_; }

std::string ScratchServer::createDatabase(const std::string& name) {
  std::string unique = databaseName(name);
  std::string error;
  std::unique_ptr<zddb::Server> server = zddb::openServer(address_, port_, &error);
  if (!server) return unique;
  if (backend_ == Backend::kEmbedded) {
    server->createDatabase(unique);
    return unique;
  }
  // The suite names projects freely; the program itself only ever creates
  // plain names, so odd ones are made here directly.
  std::unique_ptr<zddb::Connection> connection = server->connect("");
  if (connection && connection->execute("CREATE DATABASE " + zddb::quoteIdentifier(unique) +
                                        " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin"))
    created_.push_back(unique);
  return unique;
}

std::string ScratchServer::connectionText(const std::string& database) const {
  return zdcom::writeCsv({address_, port_, database});
}

}  // namespace ovix::testing
