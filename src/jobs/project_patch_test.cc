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

// A package patches the project it names only when the project has its
// guid (in the same case) and a mark older than the package (a mark shorter
// than four counts as none), and, with keys in trusted-keys, only when one
// of them signed it, the signature going in with it.  Any other changes
// nothing and says why.  A name with quotes and SQL passes as data (names
// on MariaDB hold no '/', '\' or '.').
TEST_P(ProjectPatchTest, APackagePatchesTheProjectItNamesOnlyWhenItFits) {
  namespace ms = ovix::minisign;
  ms::SecretKey supplier, stranger;
  ms::PublicKey supplierKey, strangerKey;
  ovix::testing::makeSigningKey(&supplier, &supplierKey);
  ovix::testing::makeSigningKey(&stranger, &strangerKey);
  const std::string path = program_.file("p.package");
  const std::string broken = "补丁包" + path + "有错，请联系技术支持人员！";
  const std::string noProject = "的项目库，检查IP及端口，或咨询技术支持！";
  const std::string unverified = "项目补丁包" + path + "没有通过签名校验：";
  struct Case {
    std::optional<std::string> mark;
    std::string message;            // "" when the project is patched
    const char* projId = nullptr;   // null: the project's own name
    const char* projGuid = "{G-1}";
    const ms::SecretKey* signer = nullptr;
    bool trusting = false;  // the supplier's key is in trusted-keys (such rows come last)
    const char* name = "plant";
    bool dialog = false;  // through the upload dialog
  } cases[] = {
      {"X9X202612050929", ""},
      {"X9X202612050930", kUpToDate},  // the same minute
      {"X9X202701010000", kUpToDate},
      {"", ""},
      {"X9X", ""},  // shorter than four
      {std::nullopt, ""},
      {"X9X202001010000", broken, nullptr, ""},
      {"X9X202001010000", broken, nullptr, nullptr},
      {"", "服务器无名称为nowhere" + noProject, "nowhere"},
      {"", "服务器无名称为x' or '1'='1" + noProject, "x' or '1'='1"},
      {.mark = "",
       .message = "服务器上的项目(%P)，其GUID与补丁中指定项目的GUID不同，请联系技术支持！",
       .projGuid = "{g-1}"},
      {.mark = "", .message = "", .name = "p'; DROP TABLE ZedaProject; -- ", .dialog = true},
      {.mark = "", .message = unverified + "补丁没有签名，补丁被拒绝", .trusting = true},
      {.mark = "",
       .message = unverified + "签名所用的密钥" + ms::keyIdText(strangerKey.id) + "不受信任，补丁被拒绝",
       .signer = &stranger,
       .trusting = true},
      {.mark = "", .message = "", .signer = &supplier, .trusting = true},
  };
  std::vector<std::pair<std::string, std::optional<std::string>>> refused;  // and their marks
  for (const Case& c : cases) {
    std::string project = server_->addProject(c.name + std::to_string(&c - cases), "{G-1}", c.mark);
    std::string message = c.message;
    if (size_t at = message.find("%P"); at != std::string::npos) message.replace(at, 2, project);
    SCOPED_TRACE(project + " " + message);
    ::unlink(path.c_str());
    makePackage("p.package", c.projId != nullptr ? c.projId : project.c_str(), c.projGuid);
    std::string why;
    if (c.signer != nullptr) {
      ASSERT_TRUE(ovix::signPackageFile(env_, path, *c.signer, &why)) << why;
    }
    if (c.trusting) program_.write("trusted-keys/supplier.pub", ms::publicKeyText(supplierKey));
    ScopedRecorder recorder;
    const bool ok = c.dialog ? ovix::serverCommitOk(env_, "Pa55", address(), port(), "CONFIG")
                             : apply(path);
    EXPECT_EQ(ok, message.empty()) << ::testing::PrintToString(recorder.messages);
    EXPECT_TRUE(recorder.questions.empty());
    if (!message.empty()) {
      EXPECT_EQ(recorder.messages, Texts{message});
      refused.emplace_back(project, c.mark);
      continue;
    }
    EXPECT_EQ(recorder.messages, c.dialog ? Texts{"上传完成"} : Texts{});
    expectPatchedWith(project, kFiles);
    if (c.signer != nullptr) {
      ovix::PackageSignature carried;
      ASSERT_TRUE(ovix::readSignatureRow(server_->open(project).get(), kKey, &carried));
      EXPECT_TRUE(ms::verify(supplierKey, carried.manifest, carried.signature, nullptr, &why))
          << why;
    }
  }
  // Patching one project leaves every other as it was.
  for (const auto& [project, mark] : refused) {
    EXPECT_FALSE(patched(project)) << project;
    EXPECT_EQ(server_->mark(project), mark) << project;
  }
  EXPECT_EQ(ovix::loadRememberedServer(env_).address, address());
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
