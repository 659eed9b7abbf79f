// Uploads on both server backends: the package the dialog picks, what
// reaches the store, what is refused, and that a failed upload leaves
// nothing.

#include "server/upload.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "app/working_files.h"
#include "jobs/server_commit.h"
#include "package/package_signature.h"
#include "package/server_connection.h"
#include "testing/package_builder.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;
using ovix::testing::PackageFile;
using ovix::testing::PackageHeader;
using ovix::testing::ScopedRecorder;
using Texts = std::vector<std::string>;

constexpr char kKey[] = "A3A202612040905";

const std::vector<PackageFile> kFiles = {
    {"bin\\a.dll", std::string("\0\1\2\3", 4)},
    {"bin\\中文 'q' 100%.xml", "<x/>"},
    {"Case.txt", "upper"},
    {"case.txt", "lower", "", 2},
    {"empty.ini", ""},
    {"big.bin", std::string(3 << 20, 'b')},  // streamed, not batched
};

class UploadTest : public ovix::testing::ProjectServerTest {
 protected:
  std::string makePackage(const std::string& file, const std::vector<PackageFile>& files = kFiles,
                          PackageHeader header = {}) {
    return ovix::testing::writePackage(program_.file(file), header, files);
  }
  bool upload(const std::string& path) {
    return ovix::uploadPackage(env_, path, address(), port());
  }
  // Nothing of the package is on the server: no header, no rows.
  void expectNothingStored() {
    EXPECT_NE(store()->pureSql("select * from OVIXPackageInfo"), 0);
    EXPECT_TRUE(storeRows(kKey).empty());
  }
};

// A table that refuses the rows after the header is in, or a cancel on the
// progress display where the upload counts its records, leaves nothing.
// Then the dialog picks the newest package of the kind, checks the password
// and remembers the server (in a file without byte-order mark); the store
// holds the records byte for byte with new versions and guids.
TEST_P(UploadTest, AFailedUploadLeavesNothingAndTheDialogThenUploadsByteForByte) {
  std::string path = makePackage("new.package");
  ASSERT_TRUE(server_->scratch().execute(
      server_->storeDatabase(),
      std::string("CREATE TABLE ") + kKey +
          " (m_skey VARCHAR(200) PRIMARY KEY, m_crc VARCHAR(32), m_guid VARCHAR(64), "
          "m_version INTEGER CHECK (m_version < 1), m_stream LONGBLOB)"));
  ScopedRecorder recorder;
  EXPECT_FALSE(upload(path));
  EXPECT_THAT(recorder.messages,
              ElementsAre(StartsWith("上传失败，服务器上没有留下这个补丁的任何数据：")));
  expectNothingStored();

  ASSERT_TRUE(server_->run(server_->storeDatabase(), std::string("DROP TABLE ") + kKey));
  recorder.messages.clear();
  recorder.steps.clear();
  recorder.cancelAt = 2;
  EXPECT_FALSE(upload(path));
  const std::string total = std::to_string(kFiles.size());
  EXPECT_EQ(recorder.steps, (Texts{"上传 0/" + total, "上传 1/" + total, "上传 2/" + total,
                                   "上传 " + total + "/" + total}));
  EXPECT_EQ(recorder.messages,
            Texts{"上传失败，服务器上没有留下这个补丁的任何数据：用户取消了上传"});
  expectNothingStored();

  recorder.cancelAt = UINT64_MAX;
  recorder.messages.clear();
  makePackage("old.package", kFiles, {"A3A202612010000", "DLL", "2026-12-01-00-00"});
  makePackage("project.package", kFiles, {"B3B202612050000", "CONFIG", "2026-12-05-00-00"});
  makePackage("notime.package", kFiles, {"A3A209912310000", "DLL", ""});
  program_.write("broken.package", "not a database");
  program_.write("sub/newer.package", "");
  EXPECT_EQ(ovix::findLocalPackage(env_, "DLL"), path);
  EXPECT_EQ(ovix::findLocalPackage(env_, "CONFIG"), program_.file("project.package"));
  EXPECT_EQ(ovix::findLocalPackage(env_, ""), "");
  EXPECT_EQ(recorder.messages, Texts{"程序错误，未指定补丁类型"});

  recorder.messages.clear();
  EXPECT_FALSE(ovix::serverCommitOk(env_, "pa55", address(), port(), "DLL"));
  EXPECT_EQ(recorder.messages, Texts{"用户名和密码不对"});
  EXPECT_FALSE(env_.fileExists(ovix::uploadIniPath()));
  EXPECT_TRUE(ovix::serverCommitOk(env_, "Pa55", address(), port(), "DLL"));
  EXPECT_EQ(recorder.messages, (Texts{"用户名和密码不对", "上传完成"}));
  ovix::ServerAddress remembered = ovix::loadRememberedServer(env_);
  EXPECT_EQ(remembered.address, server_->address());
  EXPECT_EQ(remembered.port, server_->port());
  EXPECT_NE(program_.read("ovixpatch_upload.ini").rfind("\xEF\xBB\xBF", 0), 0u);

  EXPECT_EQ(store()->pureSql("select * from OVIXPackageInfo where m_skey=?", {KVData::text(kKey)}),
            0);
  auto stored = storeRows(kKey);
  ASSERT_EQ(stored.size(), kFiles.size());
  std::set<std::string> guids;
  for (const PackageFile& f : kFiles) {
    SCOPED_TRACE(f.key);
    EXPECT_EQ(stored[f.key].bytes, f.bytes);
    EXPECT_EQ(stored[f.key].crc, ovix::testing::crcOf(f.bytes));
    EXPECT_EQ(stored[f.key].version, f.version + 1);
    EXPECT_EQ(stored[f.key].guid.size(), 38u);
    guids.insert(stored[f.key].guid);
  }
  EXPECT_EQ(guids.size(), kFiles.size());
}

TEST_P(UploadTest, BadPackagesAreRefusedAndLeaveNothing) {
  struct Case {
    const char* key;
    const char* refTable;
    std::vector<PackageFile> files;
    std::string message;  // after "上传的版本数据包"
    std::function<void(const std::string&)> spoil = nullptr;  // the written package
  };
  const std::vector<PackageFile> good = {{"a.dll", "x"}};
  auto changedAfterSigning = [this](const std::string& path) {
    ovix::minisign::SecretKey signer;
    ovix::minisign::PublicKey key;
    ovix::testing::makeSigningKey(&signer, &key);
    std::string why;
    ASSERT_TRUE(ovix::signPackageFile(env_, path, signer, &why)) << why;
    ovix::testing::query(path, "update OVIXFileRecord set m_stream=cast('y' as blob), m_crc='" +
                                   ovix::testing::crcOf("y") + "'");
  };
  const std::string uninstallable = "，工作站不能安装，上传被拒绝";
  const Case cases[] = {
      {nullptr, "", good, "中无版本信息记录"},
      {kKey, nullptr, good, "有错，无参考表数据"},
      {kKey, "x`; DROP TABLE y; --", good, "有错，参考表名x`; DROP TABLE y; --不合法"},
      {"../x", kKey, good, "有错，补丁编码../x不合法"},
      // What any workstation would refuse never reaches the server.
      {kKey, "", {{"..\\x.dll", "x"}}, "中文件路径..\\x.dll不在安装目录之内" + uninstallable},
      {kKey, "", {{"a\nb.dll", "x"}}, "中文件路径a\\x0Ab.dll含有控制字符" + uninstallable},
      {kKey, "", {{"\xff.dll", "x"}}, "中文件路径\\xFF.dll不是有效的文字编码" + uninstallable},
      {kKey, "", {{"a.dll", "x", "", 0, "C1"}}, "中文件a.dll的校验码C1不合法，上传被拒绝"},
      {kKey, "", {{"a.dll", "x", "", 0, ""}}, "中文件a.dll的校验码不合法，上传被拒绝"},
      // What every workstation that trusts the signer would refuse.
      {kKey, "", good, "没有通过签名校验：文件a.dll的数据与签名时不同", changedAfterSigning},
      // File records that cannot be read at all.
      {kKey, "", good, "中无数据",
       [](const std::string& path) { ovix::testing::query(path, "DROP TABLE OVIXFileRecord"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::string path = makePackage(std::to_string(&c - cases) + ".package", c.files,
                                   {.key = c.key, .refTable = c.refTable});
    if (c.spoil) c.spoil(path);
    ScopedRecorder recorder;
    EXPECT_FALSE(upload(path));
    EXPECT_EQ(recorder.messages, Texts{"上传的版本数据包" + c.message});
    EXPECT_FALSE(server_->hasTable(server_->storeDatabase(), "OVIXPackageInfo"));
  }
}

OVIX_SERVER_TEST_BACKENDS(UploadTest);

}  // namespace
