// A package signed as it is packed verifies whole, its large file hashed
// while streamed, and every change made after signing is named.

#include <gtest/gtest.h>

#include <filesystem>

#include "package/package_signature.h"
#include "packing/package_writer.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
namespace ms = ovix::minisign;

TEST(PackageSigningTest, EveryChangeAfterSigningIsNamed) {
  ovix::Env& env = *ovix::Env::Default();
  ovix::testing::TempDir dir;
  ms::SecretKey secret, stranger;
  ms::PublicKey key, strangerKey;
  ovix::testing::makeSigningKey(&secret, &key);
  ovix::testing::makeSigningKey(&stranger, &strangerKey);
  // Packs `files` (relative path -> bytes), signed, as `name`.
  auto pack = [&](const std::string& name, const std::map<std::string, std::string>& files) {
    for (const auto& [path, bytes] : files) dir.write(name + ".tree/" + path, bytes);
    OVIXPackageInfo header;
    header.setSkey("A3A202612040905");
    header.setVer("V3");
    header.setPackTime("2026-12-04-09-05");
    ovix::PackFileFilter filter(env, "", "", "DLL,BIN", false);
    ovix::testing::ScopedRecorder quiet;
    EXPECT_TRUE(ovix::writePackageFile(env, header, dir.file(name), dir.file(name + ".tree"), "",
                                       filter, &secret))
        << ::testing::PrintToString(quiet.messages);
    return dir.file(name);
  };
  // Why `path` does not verify against `trusted`; "" when it does.
  auto refusal = [](const std::string& path, const ms::PublicKey& trusted) {
    DatabaseHandle db(ovix::openPackageFile(path.c_str()));
    std::string why;
    return ovix::verifyPackage(db.get(), {trusted}, &why) ? "" : why;
  };
  const std::string big(5 << 20, 'b');  // larger than a file read whole
  const std::string package = pack("p.package", {{"bin/a.dll", "abc"}, {"bin/big.bin", big}});
  const std::string other = pack("q.package", {{"bin/a.dll", "other"}});
  ASSERT_EQ(refusal(package, key), "");

  const struct {
    const char* name;
    std::string sql;
    const char* why;
    const ms::PublicKey& key;
  } cases[] = {
      {"flipped byte", "update OVIXFileRecord set m_stream=cast('abd' as blob) where m_skey='bin\\a.dll'",
       "的数据与签名时不同", key},
      {"file swapped in from another signed package",
       "attach '" + other + "' as o; update OVIXFileRecord set m_stream=(select m_stream from "
       "o.OVIXFileRecord) where m_skey='bin\\a.dll'", "的数据与签名时不同", key},
      {"file removed", "delete from OVIXFileRecord where m_skey='bin\\big.bin'",
       "签名的文件bin\\big.bin不在补丁中", key},
      {"file added", "insert into OVIXFileRecord (m_skey, m_crc, m_stream) values "
       "('bin\\evil.dll', '00000000', x'00')", "不在签名的清单中", key},
      {"header edited", "update OVIXPackageInfo set m_ver='V9'", "包信息的version与签名时不同", key},
      {"newer pack time", "update OVIXPackageInfo set m_pack_time='2027-01-01-00-00'",
       "pack-time与签名时不同", key},
      {"signature removed", "drop table OVIXPackageSignature", "补丁没有签名", key},
      {"untrusted key", "", "不受信任", strangerKey},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copy = dir.file("copy.package");
    fs::copy_file(package, copy, fs::copy_options::overwrite_existing);
    if (!c.sql.empty()) {
      DatabaseHandle db(ovix::openPackageFile(copy.c_str()));
      ASSERT_TRUE(db->connection()->execute(c.sql)) << db->lastError();
    }
    const std::string why = refusal(copy, c.key);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

}  // namespace
