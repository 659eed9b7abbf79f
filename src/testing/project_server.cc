#include "testing/project_server.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "package/package_file.h"
#include "package/package_records.h"
#include "platform/program_paths.h"
#include "platform/zeda_system.h"
#include "testing/scoped_env.h"
#include "package/server_connection.h"
#ifdef _WIN32
#include "platform/utf16_windows.h"
#endif

namespace ovix::testing {

ProjectServer::ProjectServer(Backend backend) : server_(backend) {
  if (!server_.available()) return;
  prefix_ = server_.useNamespace();
  // A replaying child finds the general database its parent made.
  if (isChildReplay()) {
    ready_ = true;
    return;
  }
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

namespace {

// Starts each test's shared values (and on Windows its runChildren calls)
// afresh; a replaying child that ends its test has not reached its body.
class ChildSupport : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override;
  void OnTestEnd(const ::testing::TestInfo&) override;
};
const bool kChildSupportInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new ChildSupport);
  return true;
}();

}  // namespace

void PrintTo(const ChildResult& result, std::ostream* out) {
  *out << (result.killed ? "killed" : "exit code " + std::to_string(result.exitCode));
}

#ifndef _WIN32

std::vector<ChildResult> runChildren(int count, const std::function<bool(int)>& body) {
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
  std::vector<ChildResult> results;
  for (pid_t child : children) {
    int status = -1;
    ::waitpid(child, &status, 0);
    results.push_back({WIFSIGNALED(status), WIFEXITED(status) ? WEXITSTATUS(status) : -1});
  }
  EXPECT_EQ(results.size(), static_cast<size_t>(count)) << "fork failed";
  return results;
}

void killThisProcess() {
  ::raise(SIGKILL);
  ::_exit(137);
}

void ChildSupport::OnTestStart(const ::testing::TestInfo&) { startSharingForTest(); }
void ChildSupport::OnTestEnd(const ::testing::TestInfo&) {}

#else  // Windows: the child runs its test again; see project_server.h.

namespace {

// Killed: the exit status of killThisProcess, which, like the status of an
// exception that ended a process, is an NTSTATUS error (top bits 11).
constexpr DWORD kKilledStatus = 0xE0000009;
// A child that ended its test without reaching its body.
constexpr int kLostChild = 86;

// The runChildren calls of the current test and what they gave, kept for
// the children of later calls, who replay the test.
struct Calls {
  std::vector<std::vector<ChildResult>> results;
  size_t next = 0;  // in a replaying child: the calls it went through
};
Calls& calls() {
  static Calls instance;
  return instance;
}

// "k" for killed, else the exit code; children by ',', calls by ';'.
std::string writeResults(const std::vector<std::vector<ChildResult>>& all) {
  std::string text;
  for (const auto& call : all) {
    if (!text.empty()) text += ';';
    for (size_t i = 0; i < call.size(); ++i)
      text += (i ? "," : "") + (call[i].killed ? "k" : std::to_string(call[i].exitCode));
  }
  return text;
}
std::vector<ChildResult> readResults(const std::string& all, size_t call) {
  std::istringstream calls(all);
  std::string text;
  for (size_t i = 0; i <= call; ++i) std::getline(calls, text, ';');
  std::vector<ChildResult> results;
  std::istringstream children(text);
  for (std::string child; std::getline(children, child, ',');)
    results.push_back(child == "k" ? ChildResult{true, -1} : ChildResult{false, std::stoi(child)});
  return results;
}

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}
HANDLE event(const std::string& name, bool create) {
  std::wstring wide = ovix::widen(name);
  return create ? CreateEventW(nullptr, TRUE, FALSE, wide.c_str())
                : OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, wide.c_str());
}

// In a replaying child: the call that made this child runs its body and
// ends the process; earlier ones give what they gave the parent.
std::vector<ChildResult> replay(const std::function<bool(int)>& body) {
  size_t call = calls().next++;
  if (call < std::stoul(variable("OVIX_TEST_CHILD_CALL")))
    return readResults(variable("OVIX_TEST_CHILD_RESULTS"), call);
  const std::string events = variable("OVIX_TEST_CHILD_EVENTS");
  const int index = std::stoi(variable("OVIX_TEST_CHILD"));
  HANDLE ready = event(events + "-ready-" + std::to_string(index), false);
  HANDLE go = event(events + "-go", false);
  if (!ready || !go || !SetEvent(ready) || WaitForSingleObject(go, INFINITE) != WAIT_OBJECT_0)
    std::_Exit(kLostChild);
  const bool ok = body(index);
  std::fflush(nullptr);
  std::_Exit(ok ? 0 : 1);
}

}  // namespace

std::vector<ChildResult> runChildren(int count, const std::function<bool(int)>& body) {
  if (isChildReplay()) return replay(body);
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const size_t call = calls().results.size();
  const std::string events = "Local\\ovix-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(call);
  HANDLE go = event(events + "-go", true);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=" +
                             widen(std::string(test->test_suite_name()) + "." + test->name());
  // The children's own output would repeat the test's; only errors are kept.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE null = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
  const std::pair<const char*, std::string> handedDown[] = {
      {"OVIX_TEST_CHILD_CALL", std::to_string(call)},
      {"OVIX_TEST_CHILD_RESULTS", writeResults(calls().results)},
      {"OVIX_TEST_CHILD_EVENTS", events},
      {"OVIX_TEST_SHARED", sharedValuesForChildren()}};
  for (const auto& [name, value] : handedDown) setEnvVar(name, value.c_str());
  std::vector<HANDLE> processes, ready;
  for (int i = 0; i < count; ++i) {
    setEnvVar("OVIX_TEST_CHILD", std::to_string(i).c_str());
    ready.push_back(event(events + "-ready-" + std::to_string(i), true));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = null;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info))
      break;
    CloseHandle(info.hThread);
    processes.push_back(info.hProcess);
  }
  setEnvVar("OVIX_TEST_CHILD", nullptr);
  for (const auto& [name, value] : handedDown) setEnvVar(name, nullptr);
  // Every child has replayed its test up to its body (or died): let them go.
  for (size_t i = 0; i < processes.size(); ++i) {
    HANDLE either[] = {ready[i], processes[i]};
    WaitForMultipleObjects(2, either, FALSE, INFINITE);
  }
  SetEvent(go);
  std::vector<ChildResult> results;
  for (size_t i = 0; i < processes.size(); ++i) {
    DWORD status = 1;
    WaitForSingleObject(processes[i], INFINITE);
    GetExitCodeProcess(processes[i], &status);
    CloseHandle(processes[i]);
    EXPECT_NE(status, static_cast<DWORD>(kLostChild))
        << "child " << i << " did not get to its body when it ran the test again";
    const bool killed = (status & 0xC0000000) == 0xC0000000;
    results.push_back({killed, killed ? -1 : static_cast<int>(status)});
  }
  for (HANDLE h : ready) CloseHandle(h);
  CloseHandle(go);
  CloseHandle(null);
  EXPECT_EQ(results.size(), static_cast<size_t>(count)) << "CreateProcessW failed";
  calls().results.push_back(results);
  return results;
}

void killThisProcess() {
  TerminateProcess(GetCurrentProcess(), kKilledStatus);
  std::_Exit(137);
}

void ChildSupport::OnTestStart(const ::testing::TestInfo&) {
  calls() = Calls();
  startSharingForTest();
}
void ChildSupport::OnTestEnd(const ::testing::TestInfo&) {
  if (isChildReplay()) {
    std::fflush(nullptr);
    std::_Exit(kLostChild);
  }
}

#endif

}  // namespace ovix::testing
