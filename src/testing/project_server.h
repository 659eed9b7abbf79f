// A server with a general database listing projects, each with a database
// of its own, for the tests of the project information file and the project
// patch on both backends.

#ifndef OVIX_TESTING_PROJECT_SERVER_H_
#define OVIX_TESTING_PROJECT_SERVER_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/database.h"
#include "platform/env.h"
#include "testing/server_backends.h"
#include "testing/temp_dir.h"

namespace ovix::testing {

class ProjectServer {
 public:
  // Gives the process's fixed databases a namespace of their own and makes
  // the general database with its user "system" (password "Pa55") and an
  // empty project table.
  explicit ProjectServer(Backend backend);

  ScratchServer& scratch() { return server_; }
  bool available() const { return server_.available() && ready_; }
  const std::string& address() const { return server_.address(); }
  const std::string& port() const { return server_.port(); }

  // Lists a project in the general database (a null mark stays NULL) and,
  // with `withDatabase`, creates its database; returns the project's name
  // on the server, which is `name` made unique.
  std::string addProject(const std::string& name, const std::string& guid,
                         std::optional<std::string> mark, bool withDatabase = true);
  // Runs one statement with bound values on a database of this server.
  bool run(const std::string& database, const std::string& sql,
           const std::vector<std::string>& values = {});
  // The project's mark; nullopt for NULL or an unlisted project.
  std::optional<std::string> mark(const std::string& project);
  DatabaseHandle open(const std::string& database);

  struct Row {
    std::string guid, bytes;
    int version = 0;
  };
  // The configuration rows of a project's database by key; empty when the
  // table does not exist.
  std::map<std::string, Row> configRows(const std::string& project);
  bool hasTable(const std::string& database, const std::string& table);

  std::string generalDatabase() const { return prefix_ + "ovixgeneral"; }

 private:
  ScratchServer server_;
  std::string prefix_;
  bool ready_ = false;
};

// A test on both backends with a project server and a program directory of
// its own; skipped (or failed, when MariaDB is required) without a server.
class ProjectServerTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;

  char const* address() const { return server_->address().c_str(); }
  char const* port() const { return server_->port().c_str(); }

  Env& env_ = *Env::Default();
  TempDir program_;
  std::unique_ptr<ProjectServer> server_;
};

}  // namespace ovix::testing

#endif  // OVIX_TESTING_PROJECT_SERVER_H_
