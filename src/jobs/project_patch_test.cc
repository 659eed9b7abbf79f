// Project patches on both server backends: which projects a package reaches,
// what it writes there, the marks, the refusals that change nothing, and two
// patches of one project at once.

#include "project/project_patch.h"

#include <gtest/gtest.h>

#include <fstream>

#include "jobs/server_commit.h"
#include "package/package_signature.h"
#include "package/sqlite_connection.h"
#include "project/project_lock.h"
#include "testing/package_builder.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"

namespace {

using ovix::testing::Backend;
using ovix::testing::PackageFile;
using ovix::testing::ScopedRecorder;
using Texts = std::vector<std::string>;

const std::vector<PackageFile> kFiles = {
    {"cfg\\pipe.xml", "<pipe/>"},
    {"cfg\\中文 'q';.txt", std::string("\0\1\2", 3)},
    {"cfg\\big.bin", std::string(3 << 20, 'b')},
};

constexpr char kKey[] = "C1C202612050930";
constexpr char kUpToDate[] = "服务器上的项目已经是最新的，不需要补丁";

// Tries for the project lock without the pauses between tries.
class NoPauseEnv : public ovix::EnvWrapper {
 public:
  NoPauseEnv() : EnvWrapper(ovix::Env::Default()) {}
  void sleepMilliseconds(int) override {}
};

class ProjectPatchTest : public ovix::testing::ProjectServerTest {
 protected:
  // A project package in the program directory; a null project names none.
  std::string makePackage(const std::string& file, const char* projId, const char* projGuid,
                          const std::vector<PackageFile>& files = kFiles) {
    return ovix::testing::writePackage(
        program_.file(file), {kKey, "CONFIG", "2026-12-05-09-30", "", projId, projGuid}, files);
  }
  bool apply(const std::string& path, ovix::Env& env = *ovix::Env::Default()) {
    return ovix::applyProjectPatch(env, path, address(), port());
  }
  bool patched(const std::string& project) {
    return server_->hasTable(project, ovix::kProjectConfigTable);
  }

  void expectPatchedWith(const std::string& project, const std::vector<PackageFile>& files,
                         int version = 1) {
    auto rows = server_->rows(project, ovix::kProjectConfigTable);
    ASSERT_EQ(rows.size(), files.size()) << project;
    for (const PackageFile& f : files) {
      ASSERT_EQ(rows.count(f.key), 1u) << f.key;
      EXPECT_EQ(rows[f.key].bytes, f.bytes) << f.key;
      EXPECT_EQ(rows[f.key].version, version) << f.key;
      EXPECT_EQ(rows[f.key].guid.size(), 38u) << f.key;
    }
    EXPECT_EQ(server_->mark(project), kKey);
  }
};

// Names on MariaDB cannot hold '/', '\' or '.'; quotes and SQL pass as data.
// (That the patched project is then up to date is the marks' test.)
TEST_P(ProjectPatchTest, TheUploadDialogPatchesTheNamedProjectOnly) {
  std::string project = server_->addProject("p'; DROP TABLE ZedaProject; -- ", "{G-1}", "");
  std::string other = server_->addProject("other", "{G-2}", "");
  makePackage("p.package", project.c_str(), "{G-1}");
  ScopedRecorder recorder;
  ASSERT_TRUE(ovix::serverCommitOk(env_, "Pa55", address(), port(), "CONFIG"))
      << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(recorder.messages, Texts{"上传完成"});
  expectPatchedWith(project, kFiles);
  EXPECT_FALSE(patched(other));
  EXPECT_EQ(server_->mark(other), "");
  EXPECT_EQ(ovix::loadRememberedServer(env_).address, address());
}

TEST_P(ProjectPatchTest, OnlyAMarkOlderThanThePackageLetsThePatchRun) {
  struct Case {
    std::optional<std::string> mark;
    bool patched;
  };
  const Case cases[] = {
      {"X9X202612050929", true},  {"X9X202612050930", false},  // the same minute
      {"X9X202701010000", false}, {"", true}, {"X9X", true},  // shorter than four
      {std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mark.value_or("<null>"));
    std::string project = server_->addProject("m" + std::to_string(&c - cases), "{G}", c.mark);
    std::string path = makePackage(project + ".package", project.c_str(), "{G}");
    ScopedRecorder recorder;
    EXPECT_EQ(apply(path), c.patched);
    if (c.patched) {
      EXPECT_TRUE(recorder.messages.empty());
      expectPatchedWith(project, kFiles);
    } else {
      EXPECT_EQ(recorder.messages, Texts{kUpToDate});
      EXPECT_EQ(server_->mark(project), c.mark);
      EXPECT_FALSE(patched(project));
    }
  }
}

TEST_P(ProjectPatchTest, PackagesThatDoNotFitTheProjectChangeNothing) {
  std::string project = server_->addProject("plant", "{Guid-A}", "X9X202001010000");
  std::string path = program_.file("bad.package");
  const std::string broken = "补丁包" + path + "有错，请联系技术支持人员！";
  const std::string noProject = "的项目库，检查IP及端口，或咨询技术支持！";
  struct Case {
    const char* projId;
    const char* projGuid;
    std::string message;
  };
  const Case cases[] = {
      {project.c_str(), "", broken},
      {project.c_str(), nullptr, broken},
      {"nowhere", "{Guid-A}", "服务器无名称为nowhere" + noProject},
      {project.c_str(), "{guid-a}",  // the guid differs in case
       "服务器上的项目(" + project + ")，其GUID与补丁中指定项目的GUID不同，请联系技术支持！"},
      {"x' or '1'='1", "{Guid-A}", "服务器无名称为x' or '1'='1" + noProject},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ::unlink(path.c_str());
    makePackage("bad.package", c.projId, c.projGuid);
    ScopedRecorder recorder;
    EXPECT_FALSE(apply(path));
    EXPECT_EQ(recorder.messages, Texts{c.message});
    EXPECT_TRUE(recorder.questions.empty());
  }
  EXPECT_FALSE(patched(project));
  EXPECT_EQ(server_->mark(project), "X9X202001010000");
}

// With keys in the program directory's trusted-keys, only a package signed
// by one of them patches a project, and its signature goes in with it.
TEST_P(ProjectPatchTest, TrustedKeysInTheProgramDirectoryAdmitOnlyTheirSignatures) {
  ovix::minisign::SecretKey supplier, stranger;
  ovix::minisign::PublicKey supplierKey, strangerKey;
  ovix::testing::makeSigningKey(&supplier, &supplierKey);
  ovix::testing::makeSigningKey(&stranger, &strangerKey);
  program_.write("trusted-keys/supplier.pub", ovix::minisign::publicKeyText(supplierKey));
  std::string project = server_->addProject("plant", "{G}", "");
  const std::string path = program_.file("p.package");
  struct Case {
    const ovix::minisign::SecretKey* signer;
    std::string message;  // "" when the project is patched
  } cases[] = {
      {nullptr, "项目补丁包" + path + "没有通过签名校验：补丁没有签名，补丁被拒绝"},
      {&stranger, "签名所用的密钥" + ovix::minisign::keyIdText(strangerKey.id) + "不受信任"},
      {&supplier, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ::unlink(path.c_str());
    makePackage("p.package", project.c_str(), "{G}");
    std::string why;
    if (c.signer != nullptr) {
      ASSERT_TRUE(ovix::signPackageFile(env_, path, *c.signer, &why)) << why;
    }
    ScopedRecorder recorder;
    EXPECT_EQ(apply(path), c.message.empty()) << ::testing::PrintToString(recorder.messages);
    if (!c.message.empty()) {
      ASSERT_EQ(recorder.messages.size(), 1u);
      EXPECT_NE(recorder.messages[0].find(c.message), std::string::npos) << recorder.messages[0];
      EXPECT_FALSE(patched(project));
    }
  }
  expectPatchedWith(project, kFiles);
  DatabaseHandle db = server_->open(project);
  ovix::PackageSignature carried;
  std::string why;
  ASSERT_TRUE(ovix::readSignatureRow(db.get(), kKey, &carried));
  EXPECT_TRUE(ovix::minisign::verify(supplierKey, carried.manifest, carried.signature, nullptr, &why))
      << why;
}

// A package that names no project (NULL or empty) asks, goes to every
// project in turn whatever its mark, and stops at the first that fails.
TEST_P(ProjectPatchTest, APackageWithoutProjectGoesToEveryProjectOnlyAfterTheUserAgrees) {
  ScopedRecorder recorder;
  recorder.answers = {true};
  EXPECT_FALSE(apply(makePackage("none.package", nullptr, nullptr)));  // no project at all
  EXPECT_EQ(recorder.messages, Texts{"查询服务器上的项目库列表失败：ip:" + server_->address() +
                                     ",port:" + server_->port()});

  std::string first = server_->addProject("first", "{G-1}", "X9X209912312359");  // newer
  std::string second = server_->addProject("second", "{G-2}", std::nullopt);
  std::string path = makePackage("all.package", "", nullptr);
  recorder.questions.clear();
  recorder.messages.clear();
  recorder.answers = {false};
  EXPECT_FALSE(apply(path));
  EXPECT_EQ(recorder.questions, Texts{"项目补丁包未指定项目，将对所有项目进行补丁，要继续吗？"});
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_FALSE(patched(first));
  EXPECT_EQ(server_->mark(second), std::nullopt);
  recorder.answers = {true};
  ASSERT_TRUE(apply(path)) << ::testing::PrintToString(recorder.messages);
  expectPatchedWith(first, kFiles);
  expectPatchedWith(second, kFiles);

  std::string missing = server_->addProject("missing", "{G-3}", "", /*withDatabase=*/false);
  std::string after = server_->addProject("after", "{G-4}", "");
  recorder.answers = {true};
  EXPECT_FALSE(apply(path));
  EXPECT_TRUE(recorder.messages.empty());  // an unopenable project database is only logged
  expectPatchedWith(second, kFiles, 2);
  EXPECT_EQ(server_->mark(missing), "");
  EXPECT_FALSE(patched(after));
  EXPECT_EQ(server_->mark(after), "");
}

// Databases the project's map lists are copied in whole; a record already
// there keeps its guid and gets the server's version plus one.
TEST_P(ProjectPatchTest, ListedDatabasesAreCopiedInWholeAndRowsAlreadyThereKeepTheirGuid) {
  std::string project = server_->addProject("plant", "{G-1}", "");
  ASSERT_TRUE(server_->run(project, "CREATE TABLE dbnamemap (dbkey VARCHAR(200))"));
  ASSERT_TRUE(server_->run(project, "INSERT INTO dbnamemap VALUES (?)", {"cfg\\spec.db"}));
  {
    DatabaseHandle db = server_->open(project);
    ASSERT_EQ(ovix::createClassTable(db->getFilter(0), ovix::kProjectConfigTable,
                                     OVIXFileRecord::desc()),
              0);
    ovix::testing::addFileRecord(db.get(), ovix::kProjectConfigTable,
                                 {"cfg\\a.xml", "old", "", 3, nullptr, "{OLD}"});
    std::string error;
    auto spec = zddb::openSqliteConnection(program_.file("spec.db"), zddb::OpenMode::kCreate,
                                           &error);
    ASSERT_TRUE(spec->execute("CREATE TABLE PipeSpec (m_skey TEXT PRIMARY KEY, size INTEGER);"
                              "INSERT INTO PipeSpec VALUES ('DN50', 50);"));
  }
  std::string path = makePackage("p.package", project.c_str(), "{G-1}",
                                 {{"cfg\\spec.db", program_.read("spec.db"), "cfg\\spec.db"},
                                  {"cfg\\a.xml", "<a/>"},
                                  {"cfg\\b.xml", "<b/>"}});
  ScopedRecorder recorder;
  ASSERT_TRUE(apply(path)) << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(server_->open(project)->pureSql("select * from PipeSpec where m_skey=?",
                                            {KVData::text("DN50")}),
            0);
  auto rows = server_->rows(project, ovix::kProjectConfigTable);
  EXPECT_EQ(rows.count("cfg\\spec.db"), 0u);
  EXPECT_EQ(rows["cfg\\a.xml"].bytes, "<a/>");
  EXPECT_EQ(rows["cfg\\a.xml"].version, 4);
  EXPECT_EQ(rows["cfg\\a.xml"].guid, "{OLD}");
  EXPECT_EQ(rows["cfg\\b.xml"].version, 1);
  EXPECT_EQ(rows["cfg\\b.xml"].guid.size(), 38u);
}

// A project lock held elsewhere fails the patch, naming the project, once
// the wait is over; the wait shows as progress and a cancel ends it at once.
TEST_P(ProjectPatchTest, AProjectLockHeldElsewhereMakesThePatchWaitAndFail) {
  std::string project = server_->addProject("plant", "{G-1}", "");
  std::string path = makePackage("p.package", project.c_str(), "{G-1}");
  {
    DatabaseHandle holderDb = server_->open(project);
    zdcom::AutoProjectLock held(holderDb.get(), "nothing", "维护项目");
    ASSERT_TRUE(held.locked()) << held.failure();
    NoPauseEnv noPause;
    ScopedRecorder recorder;
    recorder.cancelAt = 2;  // gives up in the third second
    EXPECT_FALSE(apply(path, noPause));
    // Three tries, then the display ends: not thirty.
    const std::string waiting = "等待其他用户结束对项目(" + project + ")的补丁 ";
    EXPECT_EQ(recorder.steps, (Texts{waiting + "0/30", waiting + "1/30", waiting + "2/30",
                                     waiting + "30/30"}));
    EXPECT_EQ(recorder.messages,
              Texts{"已取消等待项目(" + project + ")的项目锁，未对项目进行补丁"});

    recorder.messages.clear();
    recorder.cancelAt = UINT64_MAX;
    EXPECT_FALSE(apply(path, noPause));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_NE(recorder.messages[0].find("项目(" + project + ")正在被其他用户补丁"),
              std::string::npos)
        << recorder.messages[0];
    if (GetParam() == Backend::kEmbedded) {
      EXPECT_NE(recorder.messages[0].find("维护项目"), std::string::npos) << recorder.messages[0];
    }
    EXPECT_FALSE(patched(project));
    EXPECT_EQ(server_->mark(project), "");
  }
  // Released with its holder's connection.
  ScopedRecorder recorder;
  EXPECT_TRUE(apply(path)) << ::testing::PrintToString(recorder.messages);
  expectPatchedWith(project, kFiles);
}

// Two processes apply the same package to one project at the same moment.
// The lock makes them run one after the other: the second either finds the
// project up to date or writes every record again over the first one's, so
// the rows are always whole and of one run.
TEST_P(ProjectPatchTest, TwoPatchesOfOneProjectAtOnceNeverMixTheirRows) {
  const bool parent = !ovix::testing::isChildReplay();  // see runChildren
  std::string project = parent ? server_->addProject("plant", "{G-1}", "")
                               : server_->scratch().databaseName("plant");
  std::vector<PackageFile> files;
  for (int i = 0; i < 400; ++i)
    files.push_back({"cfg\\f" + std::to_string(i) + ".xml", std::string(2000 + i, 'a' + i % 26)});
  files.push_back({"cfg\\big.bin", std::string(4 << 20, 'z')});
  std::string path = parent ? makePackage("p.package", project.c_str(), "{G-1}", files)
                            : program_.file("p.package");

  auto results = ovix::testing::runChildren(2, [&](int child) {
    ScopedRecorder recorder;
    bool ok = apply(path);
    std::ofstream(program_.file("child" + std::to_string(child)))
        << (recorder.messages.empty() ? "" : recorder.messages[0]);
    return ok;
  });
  int succeeded = 0;
  for (int child = 0; child < 2; ++child) {
    ASSERT_FALSE(results[child].killed);
    bool ok = results[child].exitCode == 0;
    succeeded += ok;
    EXPECT_EQ(program_.read("child" + std::to_string(child)), ok ? "" : kUpToDate);
  }
  EXPECT_GE(succeeded, 1);
  expectPatchedWith(project, files, succeeded);  // one run's rows, written once or twice
}

OVIX_SERVER_TEST_BACKENDS(ProjectPatchTest);

}  // namespace
