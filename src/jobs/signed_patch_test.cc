// Signed patches on both server backends: a workstation that trusts a key
// applies what that key signed, through the store, and refuses every change
// made after signing before its installation is touched.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/application.h"
#include "app/easy_log.h"
#include "package/package_signature.h"
#include "platform/zeda_system.h"
#include "server/upload.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"
#include "update/installation_lock.h"
#include "update/patch_application.h"

namespace {

namespace fs = std::filesystem;
namespace ms = ovix::minisign;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;
using ::testing::HasSubstr;
using ovix::testing::PackageFile;
using ovix::testing::PackageHeader;
using ovix::testing::ScopedRecorder;
using ovix::testing::TempDir;
using Files = std::map<std::string, std::string>;

constexpr char kKey[] = "A3A202612040905";
constexpr char kOtherKey[] = "A3A202612010905";  // an older signed patch
constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n";

class SignedPatchTest : public ovix::testing::ProjectServerTest {
 protected:
  void SetUp() override {
    ProjectServerTest::SetUp();
    ovix::testing::makeSigningKey(&supplier_, &supplierKey_);
    ovix::testing::makeSigningKey(&stranger_, &strangerKey_);
    ZedaSystem::setInstallRoot(install_.path());
    install_.mkdir("temp");
    ovix::openRunLog(&env_);
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  // Packs `files` as the patch `key` packed at `packTime`, signs it with
  // `signer` (none: unsigned) and uploads it.
  void upload(const char* key, const char* packTime, const Files& files,
              const ms::SecretKey* signer) {
    std::vector<PackageFile> records;
    for (const auto& [path, bytes] : files) records.push_back({path, bytes});
    const std::string path = program_.file(std::string(key) + ".package");
    fs::remove(path);
    ovix::testing::writePackage(path, {.key = key, .packTime = packTime}, records);
    std::string why;
    if (signer != nullptr) {
      ASSERT_TRUE(ovix::signPackageFile(env_, path, *signer, &why)) << why;
    }
    ScopedRecorder quiet;
    ASSERT_TRUE(ovix::uploadPackage(env_, path, address(), port()))
        << ::testing::PrintToString(quiet.messages);
  }

  void trust(const ms::PublicKey& key) {
    install_.write("sys/trusted-keys/supplier.pub", ms::publicKeyText(key));
  }
  bool apply() {
    return ovix::openPatchStoreAndApply(env_, install_.path().c_str(), address(), port());
  }
  bool inStore(const std::string& sql, const std::vector<std::string>& values = {}) {
    return server_->run(server_->storeDatabase(), sql, values);
  }

  // Every file of the installation but the run log and the lock.
  Files installed() {
    Files out;
    for (const auto& entry : fs::recursive_directory_iterator(install_.path())) {
      std::string rel = entry.path().lexically_relative(install_.path()).string();
      if (entry.is_regular_file() && rel != "temp/autoPatchLog.txt" &&
          rel != ovix::kInstallationLockFile)
        out[rel] = install_.read(rel);
    }
    return out;
  }

  ms::SecretKey supplier_, stranger_;
  ms::PublicKey supplierKey_, strangerKey_;
  TempDir install_;
};

const Files kPackage = {{"bin\\a.dll", "new a"},
                        {"bin\\b.dll", "new b"},
                        {"bin\\big.dll", std::string(3 << 20, 'B')}};  // streamed

TEST_P(SignedPatchTest, EveryChangeAfterSigningIsRefusedBeforeTheInstallationIsTouched) {
  // Replaces the bytes of `file` in the patch's table, with their own CRC so
  // that only the signature can tell.
  auto replaceBytes = [this](const char* file, std::string bytes) {
    return [=, this] {
      EXPECT_TRUE(inStore(std::string("update ") + kKey + " set m_stream=?, m_crc=? where m_skey=?",
                        {bytes, ovix::testing::crcOf(bytes), file}));
    };
  };
  auto sql = [this](std::string statement) {
    return [=, this] { EXPECT_TRUE(inStore(statement)); };
  };
  struct Case {
    const char* name;
    std::function<void()> tamper;
    const char* why;
    const ms::SecretKey* signer = nullptr;  // the supplier's unless given
  } cases[] = {
      {"flipped byte", replaceBytes("bin\\a.dll", "new A"), "文件bin\\a.dll的数据与签名时不同"},
      {"flipped byte, streamed", replaceBytes("bin\\big.dll", std::string(3 << 20, 'b')),
       "文件bin\\big.dll的数据与签名时不同"},
      {"file swapped in from another signed patch", replaceBytes("bin\\a.dll", "old signed a"),
       "文件bin\\a.dll的数据与签名时不同"},
      {"file emptied", replaceBytes("bin\\b.dll", ""), "文件bin\\b.dll的数据与签名时不同"},
      {"file removed",
       [this] {
         EXPECT_TRUE(inStore(std::string("delete from ") + kKey + " where m_skey=?", {"bin\\b.dll"}));
       },
       "签名的文件bin\\b.dll不在补丁中"},
      {"file added",
       [this] {
         ovix::testing::addFileRecord(store().get(), kKey, {"bin\\evil.dll", "evil"});
       },
       "文件bin\\evil.dll不在签名的清单中"},
      {"header presented as newer",
       sql(std::string("update OVIXPackageInfo set m_pack_time='2027-01-01-00-00' where m_skey='") +
           kKey + "'"),
       "包信息的pack-time与签名时不同"},
      {"signature removed", sql("delete from OVIXPackageSignature"), "补丁没有签名"},
      {"untrusted key", [] {}, "不受信任", &stranger_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* table : {kKey, kOtherKey, "OVIXPackageInfo", "OVIXPackageSignature"})
      ASSERT_EQ(store()->exeSql(("drop table if exists " + std::string(table)).c_str()), 0);
    upload(kOtherKey, "2026-12-01-09-05", {{"bin\\a.dll", "old signed a"}}, &supplier_);
    upload(kKey, "2026-12-04-09-05", kPackage, c.signer != nullptr ? c.signer : &supplier_);
    c.tamper();
    install_.write("ovixsetup.ini", kSetup);
    install_.write("bin/a.dll", "installed a");
    trust(supplierKey_);
    const Files before = installed();
    ScopedRecorder recorder;
    EXPECT_FALSE(apply());
    EXPECT_THAT(recorder.messages,
                ElementsAre(AllOf(StartsWith(std::string("补丁") + kKey + "没有通过签名校验："),
                                  HasSubstr(c.why), EndsWith("，补丁被拒绝"))));
    EXPECT_TRUE(installed() == before);
    EXPECT_THAT(install_.read("temp/autoPatchLog.txt"), HasSubstr(c.why));
  }
}

TEST_P(SignedPatchTest, ATrustedSignatureAppliesAndNoTrustedKeyMeansUnchecked) {
  upload(kKey, "2026-12-04-09-05", kPackage, &supplier_);
  install_.write("ovixsetup.ini", kSetup);
  trust(supplierKey_);
  ScopedRecorder recorder;
  ASSERT_TRUE(apply()) << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(install_.read("bin/a.dll"), "new a");
  EXPECT_EQ(install_.read("bin/big.dll"), kPackage.at("bin\\big.dll"));
  EXPECT_THAT(install_.read("temp/autoPatchLog.txt"), HasSubstr("用1个受信任的公钥校验"));

  // A damaged key file refuses everything rather than trusting less.
  install_.write("ovixsetup.ini", kSetup);
  install_.write("sys/trusted-keys/broken.pub", "not a key");
  EXPECT_FALSE(apply());
  EXPECT_THAT(recorder.messages, ElementsAre(HasSubstr("broken.pub不是minisign公钥")));

  // Without trusted keys an unsigned patch applies as it always did, and
  // the run log says that nothing was checked.
  fs::remove_all(install_.file("sys"));
  ASSERT_TRUE(inStore("drop table OVIXPackageSignature"));
  recorder.messages.clear();
  ASSERT_TRUE(apply()) << ::testing::PrintToString(recorder.messages);
  EXPECT_THAT(install_.read("temp/autoPatchLog.txt"), HasSubstr("补丁没有经过签名校验"));
}

// An upload refuses a signed package that is not whole, so the store never
// holds what every trusting workstation would refuse.
TEST_P(SignedPatchTest, AnUploadRefusesAPackageChangedAfterSigning) {
  const std::string path = program_.file("p.package");
  ovix::testing::writePackage(path, {}, {{"bin\\a.dll", "new a"}});
  std::string why;
  ASSERT_TRUE(ovix::signPackageFile(env_, path, supplier_, &why)) << why;
  ovix::testing::query(path, "update OVIXFileRecord set m_stream=cast('new A' as blob), m_crc='" +
                                 ovix::testing::crcOf("new A") + "'");
  ScopedRecorder recorder;
  EXPECT_FALSE(ovix::uploadPackage(env_, path, address(), port()));
  EXPECT_THAT(recorder.messages, ElementsAre("上传的版本数据包没有通过签名校验：文件bin\\a.dll的数据与签名时不同"));
  EXPECT_FALSE(server_->hasTable(server_->storeDatabase(), kKey));
}

OVIX_SERVER_TEST_BACKENDS(SignedPatchTest);

}  // namespace
