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
#include <ostream>
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

// How a child process of runChildren ended: killed (by a signal; on
// Windows by killThisProcess or an exception) or with an exit code.
struct ChildResult {
  bool killed = false;
  int exitCode = -1;  // meaningful when not killed
  bool operator==(const ChildResult&) const = default;
};
void PrintTo(const ChildResult& result, std::ostream* out);
inline const ChildResult kChildSucceeded{false, 0};
inline const ChildResult kChildFailed{false, 1};

// Runs `body(i)` in `count` child processes that start at one moment, each
// exiting with 0 when its body returns true (1 otherwise); returns how they
// ended, in the order of i.
//
// Where there is fork (POSIX), each child is a copy of this process.
// Windows has none: there each child is this test program started again
// with --gtest_filter=<the current test> and OVIX_TEST_CHILD=<i>, and it
// runs the test again from the start to get to `body`:
//  - the values a test makes that the child must share (the names of
//    TempDirs and of ScratchServer databases) come from the parent, by the
//    order in which the test made them (see sharedWithChildren in
//    temp_dir.h), so fixtures and locals name the parent's folders and
//    databases;
//  - steps that change what the parent prepared (writing files, uploading,
//    creating projects) must be left out while isChildReplay(): the test
//    guards them, the fixtures here do so themselves;
//  - an earlier runChildren call of the test gives the child what it gave
//    the parent, without running anything; the call that made the child
//    waits for its siblings, runs body(i) and ends the process with its
//    result, never returning.
// A child that ends its test without reaching `body` fails the parent's test.
std::vector<ChildResult> runChildren(int count, const std::function<bool(int)>& body);

// Ends this process at once, as SIGKILL does, with no clean-up; a child of
// runChildren so ended is reported as killed.
[[noreturn]] void killThisProcess();

}  // namespace ovix::testing

#define OVIX_SERVER_TEST_BACKENDS(suite)                                              \
  INSTANTIATE_TEST_SUITE_P(                                                           \
      Backends, suite, ::testing::ValuesIn(::ovix::testing::allServerBackends()),     \
      [](const auto& info) { return ::ovix::testing::backendName(info.param); })

#endif  // OVIX_TESTING_PROJECT_SERVER_H_
