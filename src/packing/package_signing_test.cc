// A signed package verifies whole, and every change made after signing is
// named: a byte, a file swapped in from another signed package, a file
// removed or added, a header field, another key, no signature.

#include <gtest/gtest.h>
#include <sodium.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/package_file.h"
#include "package/package_signature.h"
#include "packing/package_writer.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
namespace ms = ovix::minisign;
using ovix::testing::TempDir;

class PackageSigningTest : public ::testing::Test {
 protected:
  void SetUp() override { ovix::testing::makeSigningKey(&secret_, &key_); }

  // Packs `tree` (relative path -> bytes), signed, into `name`.
  std::string pack(const std::string& name, const std::vector<std::pair<std::string, std::string>>& tree,
                   const char* version = "V3") {
    const std::string root = dir_.mkdir(name + ".tree");
    for (const auto& [path, bytes] : tree) dir_.write(name + ".tree/" + path, bytes);
    OVIXPackageInfo header;
    header.setSkey("A3A202612040905");
    header.setName("OVIX_TARNO");
    header.setVer(version);
    header.setPackTime("2026-12-04-09-05");
    header.setRefTblname("A3A202612040905");
    ovix::PackFileFilter filter(env_, "", "", "DLL,BIN", false);
    ovix::testing::ScopedRecorder quiet;
    const std::string path = dir_.file(name);
    EXPECT_TRUE(ovix::writePackageFile(env_, header, path, root, "", filter, &secret_))
        << ::testing::PrintToString(quiet.messages);
    return path;
  }

  // Why `path` does not verify against `key`; "" when it does.
  std::string refusal(const std::string& path, const ms::PublicKey& key) {
    DatabaseHandle db(ovix::openPackageFile(path.c_str()));
    std::string why;
    return ovix::verifyPackage(db.get(), {key}, &why) ? "" : why;
  }

  ovix::Env& env_ = *ovix::Env::Default();
  TempDir dir_;
  ms::SecretKey secret_;
  ms::PublicKey key_;
};

TEST_F(PackageSigningTest, EveryChangeAfterSigningIsNamed) {
  const std::string big(5 << 20, 'b');  // larger than a file read whole: hashed while streamed
  const std::string package = pack("p.package", {{"bin/a.dll", "abc"}, {"bin/big.bin", big}});
  const std::string other = pack("q.package", {{"bin/a.dll", "other"}}, "V4");
  ASSERT_EQ(refusal(package, key_), "");
  ms::SecretKey stranger;
  ms::PublicKey strangerKey;
  ovix::testing::makeSigningKey(&stranger, &strangerKey);

  struct Case {
    const char* name;
    std::string sql;
    const char* why;
    const ms::PublicKey* key = nullptr;
  };
  const std::vector<Case> cases = {
      {"flipped byte", "update OVIXFileRecord set m_stream=cast('abd' as blob) where m_skey='bin\\a.dll'",
       "的数据与签名时不同"},
      {"file swapped in from another signed package",
       "attach '" + other + "' as o; update OVIXFileRecord set m_stream=(select m_stream from "
       "o.OVIXFileRecord) where m_skey='bin\\a.dll'",
       "的数据与签名时不同"},
      {"file removed", "delete from OVIXFileRecord where m_skey='bin\\big.bin'", "签名的文件bin\\big.bin不在补丁中"},
      {"file added", "insert into OVIXFileRecord (m_skey, m_crc, m_stream) values "
       "('bin\\evil.dll', '00000000', x'00')", "不在签名的清单中"},
      {"header edited", "update OVIXPackageInfo set m_ver='V9'", "包信息的version与签名时不同"},
      {"newer pack time", "update OVIXPackageInfo set m_pack_time='2027-01-01-00-00'", "pack-time与签名时不同"},
      {"signature removed", "drop table OVIXPackageSignature", "补丁没有签名"},
      {"untrusted key", "", "不受信任", &strangerKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copy = dir_.file("copy.package");
    fs::copy_file(package, copy, fs::copy_options::overwrite_existing);
    if (!c.sql.empty()) {
      DatabaseHandle db(ovix::openPackageFile(copy.c_str()));
      ASSERT_EQ(db->connection()->execute(c.sql), true) << db->lastError();
    }
    const std::string why = refusal(copy, c.key != nullptr ? *c.key : key_);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

}  // namespace
