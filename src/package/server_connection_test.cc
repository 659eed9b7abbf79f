// The connection text, the patch store and the administrator check on both
// server backends.

#include "package/server_connection.h"

#include <gtest/gtest.h>

#include <tuple>

#include "testing/project_server.h"
#include "testing/recording_presenter.h"

namespace {

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

// An unreachable server gives no patch store and no message (its reason is
// a note only).
TEST(ConnectionTextTest, AnUnreachableServerGivesNoStoreAndNoMessage) {
  ovix::testing::ScopedRecorder recorder;
  for (const char* address : {"file:/nonexistent/ovix", "127.0.0.1"})
    EXPECT_EQ(ovix::openOrCreatePatchStore({address, "1", ""}), nullptr) << address;
  EXPECT_TRUE(recorder.messages.empty());
}

using ServerConnectionTest = ovix::testing::ProjectServerTest;

TEST_P(ServerConnectionTest, OnlyTheStoredPasswordPassesByteForByte) {
  ASSERT_TRUE(server_->scratch().execute(server_->generalDatabase(),
                                         "INSERT INTO ZedaUser VALUES ('nopwd', NULL), ('other', 'x')"));
  ovix::testing::ScopedRecorder recorder;
  for (auto [user, password, ok] : {std::tuple<const char*, const char*, bool>{"system", "Pa55", true},
                                    {"system", "pa55", false}, {"system", "Pa55 ", false},
                                    {"system", "", false}, {"nobody", "Pa55", false},
                                    {"nopwd", "", false}, {"system", "' OR '1'='1", false},
                                    {nullptr, "x", false}}) {
    EXPECT_EQ(ovix::checkAdministrator(address(), port(), user, password), ok)
        << (user ? user : "<null>") << "/" << password;
  }
  EXPECT_TRUE(recorder.messages.empty());
}

OVIX_SERVER_TEST_BACKENDS(ServerConnectionTest);

}  // namespace
