// Signatures in minisign's formats: made by the minisign program and checked
// here, and the forgeries refused.

#include "platform/minisign.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;
namespace ms = ovix::minisign;

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// Keys are made once: one without a password, one with (whose key
// derivation takes seconds on purpose).
class MinisignTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (run("command -v minisign") != 0) return;
    dir_ = new TempDir;
    run("minisign -G -W -p " + dir_->file("w.pub") + " -s " + dir_->file("w.key"));
    run("printf 'pass\\npass\\n' | minisign -G -p " + dir_->file("e.pub") + " -s " +
        dir_->file("e.key"));
    dir_->write("manifest", "key A1\nfile bin\\a.dll 3 abc\n");
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    if (dir_ == nullptr) GTEST_SKIP() << "the minisign program is not installed";
  }
  static TempDir* dir_;
};
TempDir* MinisignTest::dir_ = nullptr;

// A signature that minisign -S makes verifies here with its trusted
// comment.  (Ours verifying with minisign -V, and keys of minisign -G with
// and without a password, are on ovixpatch_pack_test's and pack_job_test's
// roads.)
TEST_F(MinisignTest, MinisignsSignaturesVerifyHere) {
  ASSERT_EQ(run("minisign -S -t 'pack 2026' -m " + dir_->file("manifest") + " -s " +
                dir_->file("w.key")),
            0);
  ms::PublicKey key;
  std::string trusted, error;
  ASSERT_TRUE(ms::parsePublicKey(dir_->read("w.pub"), &key, &error)) << error;
  EXPECT_TRUE(ms::verify(key, dir_->read("manifest"), dir_->read("manifest.minisig"), &trusted,
                         &error))
      << error;
  EXPECT_EQ(trusted, "pack 2026");
}

TEST_F(MinisignTest, ForgeriesAndWrongKeysAreRefused) {
  ms::SecretKey secret;
  ms::PublicKey key;
  ms::PublicKey other;
  std::string error;
  EXPECT_FALSE(ms::parseSecretKey(dir_->read("e.key"), "wrong", &secret, &error));
  EXPECT_NE(error.find("wrong password"), std::string::npos);
  ASSERT_TRUE(ms::parseSecretKey(dir_->read("w.key"), "", &secret, &error)) << error;
  ASSERT_TRUE(ms::parsePublicKey(dir_->read("w.pub"), &key, &error));
  ASSERT_TRUE(ms::parsePublicKey(dir_->read("e.pub"), &other, &error));
  const std::string message = dir_->read("manifest");
  const std::string good = ms::sign(secret, message, "time:1", "x");
  std::string forgedComment = good;
  forgedComment.replace(forgedComment.find("time:1"), 6, "time:9");

  struct Case {
    const char* name;
    const ms::PublicKey& key;
    std::string message;
    std::string signature;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"flipped byte", key, message + " ", good, "does not match"},
      {"newer trusted time", key, message, forgedComment, "trusted comment"},
      {"untrusted key", other, message, good, "another key"},
      {"no signature", key, message, "", "not a minisign signature"},
  };
  EXPECT_TRUE(ms::verify(key, message, good, nullptr, &error)) << error;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ms::verify(c.key, c.message, c.signature, nullptr, &error));
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
  EXPECT_FALSE(ms::parsePublicKey("untrusted comment: x\nnot base64!\n", &key, &error));
  EXPECT_EQ(ms::keyIdText(key.id).size(), 16u);
}

}  // namespace
