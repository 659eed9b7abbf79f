// Project patches on both server backends: which projects a package reaches,
// what it writes there, the marks, the refusals that change nothing, and two
// patches of one project at once.

#include "project/project_patch.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "jobs/server_commit.h"
#include "package/package_file.h"
#include "package/sqlite_connection.h"
#include "project/project_info.h"
#include "project/project_lock.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"

namespace {

using ovix::testing::Backend;

struct FileSpec {
  std::string key;
  std::string bytes;
  std::string dbkey;
};

const std::vector<FileSpec> kFiles = {
    {"cfg\\pipe.xml", "<pipe/>", ""},
    {"cfg\\中文 'q';.txt", std::string("\0\1\2", 3), ""},
    {"cfg\\big.bin", std::string(3 << 20, 'b'), ""},
};

constexpr char kKey[] = "C1C202612050930";
constexpr char kPackTime[] = "2026-12-05-09-30";

class ProjectPatchTest : public ovix::testing::ProjectServerTest {
 protected:
  void TearDown() override { zdcom::AutoProjectLock::setWaitSeconds(30); }

  // A project package in the program directory; a null project names none.
  std::string makePackage(const std::string& file, const char* projId, const char* projGuid,
                          const std::vector<FileSpec>& files = kFiles, const char* key = kKey,
                          const char* packTime = kPackTime) {
    std::string path = program_.file(file);
    DatabaseHandle db(ovix::openPackageFile(path.c_str()));
    EXPECT_NE(db, nullptr);
    ovix::createClassTable(db->getFilter(0), "OVIXFileRecord", OVIXFileRecord::desc());
    ovix::createClassTable(db->getFilter(0), "OVIXPackageInfo", OVIXPackageInfo::desc());
    OVIXPackageInfo header;
    header.setSkey(key);
    header.setType("CONFIG");
    header.setPackTime(packTime);
    header.setRefTblname(key);
    header.setProjId(projId);
    header.setProjGuid(projGuid);
    header.setGuid(ovix::newGuidText().c_str());
    EXPECT_EQ(ovix::writeRecord(db.get(), "OVIXPackageInfo", &header, 1), 0);
    for (const FileSpec& f : files) {
      OVIXFileRecord record;
      record.setSkey(f.key.c_str());
      record.setCrc("00000000");
      if (!f.dbkey.empty()) record.setDbkey(f.dbkey.c_str());
      record.setStream(f.bytes.data(), static_cast<int32_t>(f.bytes.size()));
      EXPECT_EQ(ovix::writeRecord(db.get(), "OVIXFileRecord", &record, 1), 0);
    }
    return path;
  }

  bool apply(const std::string& path) {
    return ovix::applyProjectPatch(env_, path, address(), port());
  }

  void expectPatchedWith(const std::string& project, const std::vector<FileSpec>& files,
                         int version) {
    auto rows = server_->configRows(project);
    ASSERT_EQ(rows.size(), files.size()) << project;
    for (const FileSpec& f : files) {
      ASSERT_EQ(rows.count(f.key), 1u) << f.key;
      EXPECT_EQ(rows[f.key].bytes, f.bytes) << f.key;
      EXPECT_EQ(rows[f.key].version, version) << f.key;
      EXPECT_EQ(rows[f.key].guid.size(), 38u) << f.key;
    }
  }
};

TEST_P(ProjectPatchTest, TheUploadDialogPatchesTheNamedProjectOnceThenFindsItUpToDate) {
  std::string project = server_->addProject("plant", "{G-1}", "");
  std::string other = server_->addProject("other", "{G-2}", "");
  makePackage("p.package", project.c_str(), "{G-1}");
  ovix::testing::ScopedRecorder recorder;
  ASSERT_TRUE(ovix::serverCommitOk(env_, "Pa55", address(), port(), "CONFIG"))
      << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"上传完成"});
  expectPatchedWith(project, kFiles, 1);
  EXPECT_EQ(server_->mark(project), kKey);
  EXPECT_TRUE(server_->configRows(other).empty());
  EXPECT_EQ(server_->mark(other), "");
  EXPECT_EQ(ovix::loadRememberedServer(env_).address, address());

  recorder.messages.clear();
  EXPECT_FALSE(ovix::serverCommitOk(env_, "Pa55", address(), port(), "CONFIG"));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"服务器上的项目已经是最新的，不需要补丁"});
  expectPatchedWith(project, kFiles, 1);  // not written again
}

TEST_P(ProjectPatchTest, OnlyAMarkOlderThanThePackageLetsThePatchRun) {
  struct Case {
    const char* name;
    std::optional<std::string> mark;
    bool patched;
  };
  const Case cases[] = {
      {"older", "X9X202612050929", true},
      {"same minute", "X9X202612050930", false},
      {"newer", "X9X202701010000", false},
      {"empty", "", true},
      {"shorter than four", "X9X", true},
      {"null", std::nullopt, true},
  };
  for (const Case& c : cases) {
    std::string project = server_->addProject(std::string("m") + std::to_string(&c - cases), "{G}", c.mark);
    std::string path = makePackage(project + ".package", project.c_str(), "{G}");
    ovix::testing::ScopedRecorder recorder;
    EXPECT_EQ(apply(path), c.patched) << c.name;
    if (c.patched) {
      EXPECT_TRUE(recorder.messages.empty()) << c.name;
      EXPECT_EQ(server_->mark(project), kKey) << c.name;
      expectPatchedWith(project, kFiles, 1);
    } else {
      EXPECT_EQ(recorder.messages, std::vector<std::string>{"服务器上的项目已经是最新的，不需要补丁"})
          << c.name;
      EXPECT_EQ(server_->mark(project), c.mark) << c.name;
      EXPECT_FALSE(server_->hasTable(project, ovix::kProjectConfigTable)) << c.name;
    }
  }
}

TEST_P(ProjectPatchTest, PackagesThatDoNotFitTheProjectChangeNothing) {
  std::string project = server_->addProject("plant", "{Guid-A}", "X9X202001010000");
  std::string path = program_.file("bad.package");
  struct Case {
    const char* name;
    const char* projId;
    const char* projGuid;
    std::string message;
  };
  const Case cases[] = {
      {"no guid", project.c_str(), "", "补丁包" + path + "有错，请联系技术支持人员！"},
      {"null guid", project.c_str(), nullptr, "补丁包" + path + "有错，请联系技术支持人员！"},
      {"unknown project", "nowhere", "{Guid-A}", "服务器无名称为nowhere的项目库，检查IP及端口，或咨询技术支持！"},
      {"guid differs in case", project.c_str(), "{guid-a}",
       "服务器上的项目(" + project + ")，其GUID与补丁中指定项目的GUID不同，请联系技术支持！"},
      {"quoted name", "x' or '1'='1", "{Guid-A}",
       "服务器无名称为x' or '1'='1的项目库，检查IP及端口，或咨询技术支持！"},
  };
  for (const Case& c : cases) {
    ::unlink(path.c_str());
    makePackage("bad.package", c.projId, c.projGuid);
    ovix::testing::ScopedRecorder recorder;
    EXPECT_FALSE(apply(path)) << c.name;
    EXPECT_EQ(recorder.messages, std::vector<std::string>{c.message}) << c.name;
    EXPECT_TRUE(recorder.questions.empty()) << c.name;
  }
  EXPECT_FALSE(server_->hasTable(project, ovix::kProjectConfigTable));
  EXPECT_EQ(server_->mark(project), "X9X202001010000");
}

TEST_P(ProjectPatchTest, APackageWithoutProjectGoesToEveryProjectOnlyAfterTheUserAgrees) {
  std::string first = server_->addProject("first", "{G-1}", "X9X209912312359");  // newer: not checked
  std::string second = server_->addProject("second", "{G-2}", std::nullopt);
  std::string path = makePackage("all.package", "", nullptr);
  {
    ovix::testing::ScopedRecorder recorder;
    recorder.answers = {false};
    EXPECT_FALSE(apply(path));
    EXPECT_EQ(recorder.questions,
              std::vector<std::string>{"项目补丁包未指定项目，将对所有项目进行补丁，要继续吗？"});
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_FALSE(server_->hasTable(first, ovix::kProjectConfigTable));
    EXPECT_EQ(server_->mark(second), std::nullopt);
  }
  ovix::testing::ScopedRecorder recorder;
  recorder.answers = {true};
  ASSERT_TRUE(apply(path)) << ::testing::PrintToString(recorder.messages);
  for (const std::string& project : {first, second}) {
    expectPatchedWith(project, kFiles, 1);
    EXPECT_EQ(server_->mark(project), kKey);
  }
}

TEST_P(ProjectPatchTest, TheAllProjectsLoopStopsAtTheFirstProjectThatFails) {
  std::string done = server_->addProject("done", "{G-1}", "");
  std::string missing = server_->addProject("missing", "{G-2}", "", /*withDatabase=*/false);
  std::string after = server_->addProject("after", "{G-3}", "");
  std::string path = makePackage("all.package", nullptr, nullptr);
  ovix::testing::ScopedRecorder recorder;
  recorder.answers = {true};
  EXPECT_FALSE(apply(path));
  EXPECT_TRUE(recorder.messages.empty());  // an unopenable project database is only logged
  expectPatchedWith(done, kFiles, 1);
  EXPECT_EQ(server_->mark(done), kKey);
  EXPECT_EQ(server_->mark(missing), "");
  EXPECT_FALSE(server_->hasTable(after, ovix::kProjectConfigTable));
  EXPECT_EQ(server_->mark(after), "");
}

TEST_P(ProjectPatchTest, AnEmptyProjectListIsReportedWithTheServer) {
  std::string path = makePackage("all.package", nullptr, nullptr);
  ovix::testing::ScopedRecorder recorder;
  recorder.answers = {true};
  EXPECT_FALSE(apply(path));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"查询服务器上的项目库列表失败：ip:" +
                                                        server_->address() + ",port:" +
                                                        server_->port()});
}

TEST_P(ProjectPatchTest, NamesWithQuotesAndSqlReachTheirOwnProjectOnly) {
  // Database names on MariaDB cannot hold '/', '\' or '.'; everything else
  // here must pass through as data.
  std::string odd = server_->addProject("p'; DROP TABLE ZedaProject; -- ", "{G-1}", "");
  std::string plain = server_->addProject("plain", "{G-2}", "");
  std::string path = makePackage("odd.package", odd.c_str(), "{G-1}");
  ovix::testing::ScopedRecorder recorder;
  ASSERT_TRUE(apply(path)) << ::testing::PrintToString(recorder.messages);
  expectPatchedWith(odd, kFiles, 1);
  EXPECT_EQ(server_->mark(odd), kKey);
  EXPECT_EQ(server_->mark(plain), "");
  std::vector<std::string> names;
  ASSERT_TRUE(ovix::listProjects(address(), port(), &names));
  EXPECT_EQ(names, (std::vector<std::string>{odd, plain}));
}

TEST_P(ProjectPatchTest, DatabaseRecordsListedInTheProjectsMapAreCopiedInWhole) {
  std::string project = server_->addProject("plant", "{G-1}", "");
  ASSERT_TRUE(server_->run(project, "CREATE TABLE dbnamemap (dbkey VARCHAR(200))"));
  ASSERT_TRUE(server_->run(project, "INSERT INTO dbnamemap VALUES (?)", {"cfg\\spec.db"}));
  std::string specPath = program_.file("spec.db");
  {
    std::string error;
    auto db = zddb::openSqliteConnection(specPath, zddb::OpenMode::kCreate, &error);
    ASSERT_TRUE(db->execute("CREATE TABLE PipeSpec (m_skey TEXT PRIMARY KEY, size INTEGER);"
                            "INSERT INTO PipeSpec VALUES ('DN50', 50);"));
  }
  std::string spec = program_.read("spec.db");
  std::string path = makePackage("p.package", project.c_str(), "{G-1}",
                                 {{"cfg\\spec.db", spec, "cfg\\spec.db"}, {"cfg\\a.xml", "<a/>", ""}});
  ovix::testing::ScopedRecorder recorder;
  ASSERT_TRUE(apply(path)) << ::testing::PrintToString(recorder.messages);
  DatabaseHandle db = server_->open(project);
  EXPECT_EQ(db->pureSql("select * from PipeSpec where m_skey=?", {KVData::text("DN50")}), 0);
  auto rows = server_->configRows(project);
  EXPECT_EQ(rows.count("cfg\\spec.db"), 0u);
  EXPECT_EQ(rows.count("cfg\\a.xml"), 1u);
}

TEST_P(ProjectPatchTest, AProjectLockHeldElsewhereFailsThePatchNamingTheProject) {
  std::string project = server_->addProject("plant", "{G-1}", "");
  std::string path = makePackage("p.package", project.c_str(), "{G-1}");
  zdcom::AutoProjectLock::setWaitSeconds(1);
  {
    DatabaseHandle holderDb = server_->open(project);
    zdcom::AutoProjectLock held(holderDb.get(), "nothing", "维护项目");
    ASSERT_TRUE(held.locked()) << held.failure();
    ovix::testing::ScopedRecorder recorder;
    EXPECT_FALSE(apply(path));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_NE(recorder.messages[0].find("项目(" + project + ")正在被其他用户补丁"), std::string::npos)
        << recorder.messages[0];
    if (GetParam() == Backend::kEmbedded) {
      EXPECT_NE(recorder.messages[0].find("维护项目"), std::string::npos) << recorder.messages[0];
    }
    EXPECT_FALSE(server_->hasTable(project, ovix::kProjectConfigTable));
    EXPECT_EQ(server_->mark(project), "");
  }
  // Released with its holder's connection.
  ovix::testing::ScopedRecorder recorder;
  EXPECT_TRUE(apply(path)) << ::testing::PrintToString(recorder.messages);
  expectPatchedWith(project, kFiles, 1);
}

// Waiting for another patch shows as progress, and cancelling it ends the
// wait at once.
TEST_P(ProjectPatchTest, TheUserCanStopWaitingForTheProjectLock) {
  struct CancellingRecorder : ovix::testing::ScopedRecorder {
    bool progress(const std::string& what, uint64_t done, uint64_t total) override {
      waits.push_back(what);
      dones.push_back(done);
      return done < total && done < 2;  // gives up in the third second
    }
    std::vector<std::string> waits;
    std::vector<uint64_t> dones;
  };
  std::string project = server_->addProject("plant", "{G-1}", "");
  std::string path = makePackage("p.package", project.c_str(), "{G-1}");
  DatabaseHandle holderDb = server_->open(project);
  zdcom::AutoProjectLock held(holderDb.get(), "nothing", "维护项目");
  ASSERT_TRUE(held.locked()) << held.failure();
  CancellingRecorder recorder;
  EXPECT_FALSE(apply(path));
  // Three tries, then the display ends: not thirty.
  EXPECT_EQ(recorder.dones, (std::vector<uint64_t>{0, 1, 2, 30}));
  ASSERT_FALSE(recorder.waits.empty());
  EXPECT_EQ(recorder.waits[0], "等待其他用户结束对项目(" + project + ")的补丁");
  EXPECT_EQ(recorder.messages,
            std::vector<std::string>{"已取消等待项目(" + project + ")的项目锁，未对项目进行补丁"});
  EXPECT_FALSE(server_->hasTable(project, ovix::kProjectConfigTable));
}

// Two processes apply the same package to one project at the same moment.
// The lock makes them run one after the other: the second either finds the
// project up to date or writes every record again over the first one's, so
// the rows are always whole and of one run.
TEST_P(ProjectPatchTest, TwoPatchesOfOneProjectAtOnceNeverMixTheirRows) {
  std::string project = server_->addProject("plant", "{G-1}", "");
  std::vector<FileSpec> files;
  for (int i = 0; i < 400; ++i)
    files.push_back({"cfg\\f" + std::to_string(i) + ".xml", std::string(2000 + i, 'a' + i % 26), ""});
  files.push_back({"cfg\\big.bin", std::string(4 << 20, 'z'), ""});
  std::string path = makePackage("p.package", project.c_str(), "{G-1}", files);

  int pipes[2][2];
  pid_t children[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(::pipe(pipes[i]), 0);
    children[i] = ::fork();
    ASSERT_GE(children[i], 0);
    if (children[i] == 0) {
      ::close(pipes[i][1]);
      char go;
      ssize_t n = ::read(pipes[i][0], &go, 1);  // both start together
      ovix::testing::ScopedRecorder recorder;
      bool ok = n == 1 && apply(path);
      std::ofstream(program_.file("child" + std::to_string(i))) << (recorder.messages.empty() ? "" : recorder.messages[0]);
      ::_exit(ok ? 0 : 1);
    }
    ::close(pipes[i][0]);
  }
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(::write(pipes[i][1], "g", 1), 1);
    ::close(pipes[i][1]);
  }
  int succeeded = 0;
  for (int i = 0; i < 2; ++i) {
    int status = 0;
    ASSERT_EQ(::waitpid(children[i], &status, 0), children[i]);
    ASSERT_TRUE(WIFEXITED(status));
    std::string message = program_.read("child" + std::to_string(i));
    if (WEXITSTATUS(status) == 0) {
      ++succeeded;
      EXPECT_EQ(message, "");
    } else {
      EXPECT_EQ(message, "服务器上的项目已经是最新的，不需要补丁");
    }
  }
  EXPECT_GE(succeeded, 1);
  expectPatchedWith(project, files, succeeded);  // one run's rows, written once or twice
  EXPECT_EQ(server_->mark(project), kKey);
}

INSTANTIATE_TEST_SUITE_P(Backends, ProjectPatchTest,
                         ::testing::ValuesIn(ovix::testing::allServerBackends()),
                         [](const auto& info) { return ovix::testing::backendName(info.param); });

}  // namespace
