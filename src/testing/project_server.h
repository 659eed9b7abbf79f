// The server fixture of the upload, download, project and pack tests: a
// server of one backend whose fixed databases have a namespace of their own,
// with a general database listing projects (user "system", password "Pa55"),
// and a program directory of the test's own.  Also runs racing children.

#ifndef OVIX_TESTING_PROJECT_SERVER_H_
#define OVIX_TESTING_PROJECT_SERVER_H_

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/database.h"
#include "platform/env.h"
#include "testing/package_builder.h"
#include "testing/server_backends.h"
#include "testing/temp_dir.h"

namespace ovix::testing {

class ProjectServer {
 public:
  explicit ProjectServer(Backend backend);

  ScratchServer& scratch() { return server_; }
  bool available() const { return server_.available() && ready_; }
  const std::string& address() const { return server_.address(); }
  const std::string& port() const { return server_.port(); }
  std::string generalDatabase() const { return prefix_ + "ovixgeneral"; }
  std::string storeDatabase() const { return prefix_ + "ovixinstallpatch"; }

  // Lists a project in the general database (a null mark stays NULL) and,
  // with `withDatabase`, creates its database; returns its unique name.
  std::string addProject(const std::string& name, const std::string& guid,
                         std::optional<std::string> mark, bool withDatabase = true);
  // Runs one statement with bound values on a database of this server.
  bool run(const std::string& database, const std::string& sql,
           const std::vector<std::string>& values = {});
  // The project's mark; nullopt for NULL or an unlisted project.
  std::optional<std::string> mark(const std::string& project);
  DatabaseHandle open(const std::string& database);
  bool hasTable(const std::string& database, const std::string& table);
  // The file records of a table by key; empty when the table is missing.
  std::map<std::string, FileRow> rows(const std::string& database, const std::string& table) {
    return fileRows(open(database).get(), table);
  }

 private:
  ScratchServer server_;
  std::string prefix_;
  bool ready_ = false;
};

// A test on both backends with such a server; skipped (or failed, when
// MariaDB is required) without one.
class ProjectServerTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;

  char const* address() const { return server_->address().c_str(); }
  char const* port() const { return server_->port().c_str(); }
  // The patch store, created when missing.
  DatabaseHandle store();
  std::map<std::string, FileRow> storeRows(const std::string& table) {
    return server_->rows(server_->storeDatabase(), table);
  }

  Env& env_ = *Env::Default();
  TempDir program_;
  std::unique_ptr<ProjectServer> server_;
};

// Runs `body(i)` in `count` child processes that start at one moment, each
// exiting with 0 when its body returns true; returns their waitpid statuses.
std::vector<int> runChildren(int count, const std::function<bool(int)>& body);

}  // namespace ovix::testing

#define OVIX_SERVER_TEST_BACKENDS(suite)                                              \
  INSTANTIATE_TEST_SUITE_P(                                                           \
      Backends, suite, ::testing::ValuesIn(::ovix::testing::allServerBackends()),     \
      [](const auto& info) { return ::ovix::testing::backendName(info.param); })

#endif  // OVIX_TESTING_PROJECT_SERVER_H_
