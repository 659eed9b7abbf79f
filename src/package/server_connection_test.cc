// The connection text, the patch store and the administrator check on both
// server backends.

#include "package/server_connection.h"

#include <gtest/gtest.h>

#include "package/package_records.h"
#include "platform/zeda_system.h"
#include "testing/recording_presenter.h"
#include "testing/server_backends.h"

namespace {

using ovix::testing::Backend;
using ovix::testing::ScratchServer;

TEST(ConnectionTextTest, ParamsNeedAddressAndPort) {
  std::vector<std::string> list;
  EXPECT_FALSE(ovix::makeServerParams(list, "127.0.0.1", "", "db"));
  EXPECT_FALSE(ovix::makeServerParams(list, "", "3306", "db"));
  EXPECT_FALSE(ovix::makeServerParams(list, nullptr, "3306", "db"));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(ovix::makeServerParams(list, " host ", "3306", nullptr));
  EXPECT_EQ(list, (std::vector<std::string>{" host ", "3306", ""}));  // as typed
  EXPECT_EQ(ovix::connectionMessageForm(""), ",,");
  EXPECT_EQ(ovix::connectionMessageForm("a,1"), "a,1,");
  EXPECT_EQ(ovix::connectionMessageForm(ovix::connectionText({"a,b", "1", "d"})), "\"a,b\",1,d");
}

class ServerConnectionTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    registerRecordClasses();
    ZedaSystem::setProjectDbtype(2);
    server_ = std::make_unique<ScratchServer>(GetParam());
    OVIX_REQUIRE_SERVER(*server_);
    prefix_ = server_->useNamespace();
  }

  // The general database with its user table.
  void makeUsers(const std::vector<std::pair<std::string, std::string>>& users) {
    std::string general = prefix_ + "ovixgeneral";
    ASSERT_TRUE(server_->execute(general, "CREATE TABLE ZedaUser (m_user VARCHAR(64), m_pwd VARCHAR(64))"));
    for (const auto& [user, pwd] : users) {
      ASSERT_TRUE(server_->execute(general, "INSERT INTO ZedaUser VALUES ('" + user + "', " +
                                                (pwd == "<null>" ? "NULL" : "'" + pwd + "'") + ")"));
    }
  }

  bool check(const char* user, const char* password, const char* port = nullptr) {
    return ovix::checkAdministrator(server_->address().c_str(),
                                    port != nullptr ? port : server_->port().c_str(), user, password);
  }

  std::unique_ptr<ScratchServer> server_;
  std::string prefix_;
};

TEST_P(ServerConnectionTest, OnlyTheStoredPasswordPassesByteForByte) {
  makeUsers({{"system", "Secret 1"}, {"nopwd", "<null>"}, {"other", "x"}});
  ovix::testing::ScopedRecorder recorder;
  struct Case {
    const char* user;
    const char* password;
    bool ok;
  };
  const Case cases[] = {
      {"system", "Secret 1", true},  {"system", "secret 1", false}, {"system", "Secret 1 ", false},
      {"system", "", false},         {"nobody", "Secret 1", false}, {"nopwd", "", false},
      {"system", "' OR '1'='1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(check(c.user, c.password), c.ok) << c.user << "/" << c.password;
  EXPECT_FALSE(check(nullptr, "x"));
  EXPECT_TRUE(recorder.messages.empty());
}

TEST_P(ServerConnectionTest, AnUnreachableGeneralDatabaseIsNamed) {
  ovix::testing::ScopedRecorder recorder;
  EXPECT_FALSE(check("system", "x"));  // no general database on this server
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].rfind("无法连接ovixgeneral数据库，mysql服务器为：", 0), 0u);
  EXPECT_NE(recorder.messages[0].find(server_->address()), std::string::npos);

  EXPECT_FALSE(check("system", "x", ""));  // empty port: three empty fields
  EXPECT_EQ(recorder.messages.back(), "无法连接ovixgeneral数据库，mysql服务器为：,,");
}

TEST_P(ServerConnectionTest, ThePatchStoreIsCreatedOnceAndOpenedAfter) {
  ovix::testing::ScopedRecorder recorder;
  EXPECT_EQ(ovix::openPatchStore(server_->address().c_str(), server_->port().c_str()), nullptr);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0], "版本补丁数据库不存在:" +
                                      ovix::connectionText({server_->address(), server_->port(),
                                                            prefix_ + "ovixinstallpatch"}));
  std::vector<std::string> list;
  ASSERT_TRUE(ovix::makeServerParams(list, server_->address().c_str(), server_->port().c_str(), nullptr));
  DatabaseHandle created(ovix::openOrCreatePatchStore(list));
  ASSERT_NE(created, nullptr);
  ASSERT_EQ(created->exeSql("CREATE TABLE marker (x INTEGER)"), 0);
  created.reset();
  DatabaseHandle again(ovix::openOrCreatePatchStore(list));
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->connection()->tableExists("marker"));  // the same store, not a new one
  DatabaseHandle opened(ovix::openPatchStore(server_->address().c_str(), server_->port().c_str()));
  EXPECT_NE(opened, nullptr);
  EXPECT_EQ(recorder.messages.size(), 1u);
}

TEST_P(ServerConnectionTest, AnUnreachableServerGivesNoStoreAndNoMessage) {
  ovix::testing::ScopedRecorder recorder;
  std::vector<std::string> list;
  std::string address = GetParam() == Backend::kEmbedded ? "file:/nonexistent/ovix" : "127.0.0.1";
  ovix::makeServerParams(list, address.c_str(), GetParam() == Backend::kEmbedded ? "1" : "1", nullptr);
  EXPECT_EQ(ovix::openOrCreatePatchStore(list), nullptr);
  EXPECT_TRUE(recorder.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerConnectionTest,
                         ::testing::ValuesIn(ovix::testing::allServerBackends()),
                         [](const auto& info) { return ovix::testing::backendName(info.param); });

}  // namespace
