#include "testing/project_server.h"

#include <sys/wait.h>
#include <unistd.h>

#include "package/package_file.h"
#include "package/package_records.h"
#include "platform/program_paths.h"
#include "platform/zeda_system.h"
#include "package/server_connection.h"

namespace ovix::testing {

ProjectServer::ProjectServer(Backend backend) : server_(backend) {
  if (!server_.available()) return;
  prefix_ = server_.useNamespace();
  ready_ = server_.execute(generalDatabase(),
                           "CREATE TABLE ZedaUser (m_user VARCHAR(64), m_pwd VARCHAR(64))") &&
           server_.execute(generalDatabase(), "INSERT INTO ZedaUser VALUES ('system', 'Pa55')") &&
           server_.execute(generalDatabase(),
                           "CREATE TABLE ZedaProject (m_projId VARCHAR(200), "
                           "m_projGuid VARCHAR(64), m_lineTemp VARCHAR(64))");
}

std::string ProjectServer::addProject(const std::string& name, const std::string& guid,
                                      std::optional<std::string> mark, bool withDatabase) {
  std::string unique = withDatabase ? server_.createDatabase(name) : server_.databaseName(name);
  DatabaseHandle general = open(generalDatabase());
  if (general) {
    general->exeSql("insert into ZedaProject values (?, ?, ?)",
                    {KVData::text(unique.c_str()), KVData::text(guid.c_str()),
                     KVData::text(mark ? mark->c_str() : nullptr)});
  }
  return unique;
}

bool ProjectServer::run(const std::string& database, const std::string& sql,
                        const std::vector<std::string>& values) {
  DatabaseHandle db = open(database);
  if (!db) return false;
  std::vector<KVData> args;
  for (const std::string& value : values) args.push_back(KVData::text(value.c_str()));
  return db->exeSql(sql.c_str(), args) == ZdDb::eOk;
}

DatabaseHandle ProjectServer::open(const std::string& database) {
  DatabaseHandle db(mallocDatabase(2));
  if (db->pureOpenDB_2(server_.connectionText(database).c_str(), 1, nullptr) != ZdDb::eOk)
    return nullptr;
  return db;
}

std::optional<std::string> ProjectServer::mark(const std::string& project) {
  DatabaseHandle general = open(generalDatabase());
  if (!general) return std::nullopt;
  std::vector<std::vector<KVParams>> rows;
  general->selectSql("select m_lineTemp from ZedaProject where m_projId=?",
                     {makeColumnParam("m_lineTemp")}, rows, {KVData::text(project.c_str())});
  if (rows.empty() || rowText(rows[0][0]) == nullptr) return std::nullopt;
  return std::string(rowText(rows[0][0]));
}

bool ProjectServer::hasTable(const std::string& database, const std::string& table) {
  DatabaseHandle db = open(database);
  return db && db->connection()->tableExists(table);
}

void ProjectServerTest::SetUp() {
  registerRecordClasses();
  ZedaSystem::setProjectDbtype(2);
  fillProgramPaths(program_.file("ovixpatch"), std::nullopt);
  server_ = std::make_unique<ProjectServer>(GetParam());
  OVIX_REQUIRE_SERVER(server_->scratch());
  ASSERT_TRUE(server_->available());
}

DatabaseHandle ProjectServerTest::store() {
  std::vector<std::string> list;
  makeServerParams(list, address(), port(), nullptr);
  return DatabaseHandle(openOrCreatePatchStore(list));
}

std::vector<int> runChildren(int count, const std::function<bool(int)>& body) {
  int start[2];
  if (::pipe(start) != 0) return {};
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    pid_t child = ::fork();
    if (child == 0) {
      ::close(start[1]);
      char go;  // end of file: the parent has let every child go
      ::_exit(::read(start[0], &go, 1) == 0 && body(i) ? 0 : 1);
    }
    if (child > 0) children.push_back(child);
  }
  ::close(start[0]);
  ::close(start[1]);
  std::vector<int> statuses;
  for (pid_t child : children) {
    int status = -1;
    ::waitpid(child, &status, 0);
    statuses.push_back(status);
  }
  EXPECT_EQ(statuses.size(), static_cast<size_t>(count)) << "fork failed";
  return statuses;
}

}  // namespace ovix::testing
