// Uploads on both server backends: what reaches the store, what is refused,
// and that a failed upload leaves nothing.

#include "server/upload.h"

#include <gtest/gtest.h>

#include <set>

#include "app/working_files.h"
#include "jobs/server_commit.h"
#include "package/server_connection.h"
#include "testing/package_builder.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"

namespace {

using ovix::testing::PackageFile;
using ovix::testing::PackageHeader;
using ovix::testing::ScopedRecorder;

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
  bool upload(const std::string& path) { return ovix::uploadPackage(env_, path, address(), port()); }
  // Nothing of the package is on the server: no header, no rows.
  void expectNothingStored() {
    EXPECT_NE(store()->pureSql("select * from OVIXPackageInfo"), 0);
    EXPECT_TRUE(storeRows(kKey).empty());
  }
};

TEST_P(UploadTest, TheStoreHoldsTheRecordsByteForByteWithNewVersionsAndGuids) {
  std::string path = makePackage("p.package");
  ScopedRecorder recorder;
  ASSERT_TRUE(upload(path)) << ::testing::PrintToString(recorder.messages);
  EXPECT_TRUE(recorder.messages.empty());
  auto stored = storeRows(kKey);
  ASSERT_EQ(stored.size(), kFiles.size());
  std::set<std::string> guids;
  for (const PackageFile& f : kFiles) {
    ASSERT_EQ(stored.count(f.key), 1u) << f.key;
    EXPECT_EQ(stored[f.key].bytes, f.bytes) << f.key;
    EXPECT_EQ(stored[f.key].crc, ovix::testing::crcOf(f.bytes));
    EXPECT_EQ(stored[f.key].version, f.version + 1) << f.key;
    EXPECT_EQ(stored[f.key].guid.size(), 38u);
    guids.insert(stored[f.key].guid);
  }
  EXPECT_EQ(guids.size(), kFiles.size());
  std::vector<std::unique_ptr<ZdDbObject>> headers;
  ASSERT_EQ(store()->selectSql("select * from OVIXPackageInfo", OVIXPackageInfo::desc(), headers, 0), 0);
  EXPECT_STREQ(OVIXPackageInfo::cast(headers[0].get())->skey(), kKey);

  // The same package again is refused and counts as done.
  EXPECT_TRUE(upload(path));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"该补丁已经上传过服务器，无法再传"});
  EXPECT_EQ(storeRows(kKey).size(), kFiles.size());
}

TEST_P(UploadTest, BadPackagesAreRefusedAndLeaveNothing) {
  struct Case {
    const char* key;
    const char* refTable;
    std::vector<PackageFile> files;
    const char* message;
  };
  const std::vector<PackageFile> good = {{"a.dll", "x"}};
  const Case cases[] = {
      {nullptr, "", good, "上传的版本数据包中无版本信息记录"},
      {kKey, nullptr, good, "上传的版本数据包有错，无参考表数据"},
      {kKey, "x`; DROP TABLE y; --", good, "上传的版本数据包有错，参考表名x`; DROP TABLE y; --不合法"},
      {"../x", kKey, good, "上传的版本数据包有错，补丁编码../x不合法"},
      // What any workstation would refuse never reaches the server.
      {kKey, "", {{"..\\x.dll", "x"}},
       "上传的版本数据包中文件路径..\\x.dll不在安装目录之内，工作站不能安装，上传被拒绝"},
      {kKey, "", {{"a\nb.dll", "x"}},
       "上传的版本数据包中文件路径a\\x0Ab.dll含有控制字符，工作站不能安装，上传被拒绝"},
      {kKey, "", {{"\xff.dll", "x"}},
       "上传的版本数据包中文件路径\\xFF.dll不是有效的文字编码，工作站不能安装，上传被拒绝"},
      {kKey, "", {{"a.dll", "x", "", 0, "C1"}}, "上传的版本数据包中文件a.dll的校验码C1不合法，上传被拒绝"},
      {kKey, "", {{"a.dll", "x", "", 0, ""}}, "上传的版本数据包中文件a.dll的校验码不合法，上传被拒绝"},
  };
  for (const Case& c : cases) {
    PackageHeader header;
    header.key = c.key;
    header.refTable = c.refTable;
    std::string path = makePackage(std::to_string(&c - cases) + ".package", c.files, header);
    ScopedRecorder recorder;
    EXPECT_FALSE(upload(path)) << c.message;
    EXPECT_EQ(recorder.messages, std::vector<std::string>{c.message});
    EXPECT_FALSE(server_->hasTable(server_->storeDatabase(), "OVIXPackageInfo")) << c.message;
  }
  // File records that cannot be read at all.
  std::string path = makePackage("norecords.package", good);
  ASSERT_EQ(DatabaseHandle(ovix::openPackageFile(path.c_str()))->exeSql("DROP TABLE OVIXFileRecord"), 0);
  ScopedRecorder recorder;
  EXPECT_FALSE(upload(path));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"上传的版本数据包中无数据"});
}

TEST_P(UploadTest, AFailedUploadLeavesNothingAndCanBeRunAgain) {
  std::string path = makePackage("p.package");
  // A table that refuses the rows makes the upload fail after the header.
  ASSERT_TRUE(server_->scratch().execute(
      server_->storeDatabase(),
      std::string("CREATE TABLE ") + kKey + " (m_skey VARCHAR(200) PRIMARY KEY, m_crc VARCHAR(32), "
          "m_guid VARCHAR(64), m_version INTEGER CHECK (m_version < 1), m_stream LONGBLOB)"));
  ScopedRecorder recorder;
  EXPECT_FALSE(upload(path));
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].rfind("上传失败，服务器上没有留下这个补丁的任何数据：", 0), 0u);
  expectNothingStored();

  ASSERT_TRUE(server_->run(server_->storeDatabase(), std::string("DROP TABLE ") + kKey));
  EXPECT_TRUE(upload(path));
  EXPECT_EQ(storeRows(kKey).size(), kFiles.size());
}

// The upload counts its records on the progress display; cancelling there
// leaves the store as it was.
TEST_P(UploadTest, ACancelledUploadLeavesNothing) {
  std::string path = makePackage("p.package");
  ScopedRecorder recorder;
  recorder.cancelAt = 2;
  EXPECT_FALSE(upload(path));
  const std::string total = std::to_string(kFiles.size());
  EXPECT_EQ(recorder.steps, (std::vector<std::string>{"上传 0/" + total, "上传 1/" + total,
                                                      "上传 2/" + total, "上传 " + total + "/" + total}));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{
                                   "上传失败，服务器上没有留下这个补丁的任何数据：用户取消了上传"});
  expectNothingStored();
}

// The dialog picks the newest package of the kind, checks the password and
// remembers the server.
TEST_P(UploadTest, TheDialogUploadsTheNewestPackageOfTheKindAndRemembersTheServer) {
  makePackage("old.package", kFiles, {"A3A202612010000", "DLL", "2026-12-01-00-00"});
  makePackage("new.package");
  makePackage("project.package", kFiles, {"B3B202612050000", "CONFIG", "2026-12-05-00-00"});
  makePackage("notime.package", kFiles, {"A3A209912310000", "DLL", ""});
  program_.write("broken.package", "not a database");
  program_.write("sub/newer.package", "");
  ScopedRecorder recorder;
  EXPECT_EQ(ovix::findLocalPackage(env_, "DLL"), program_.file("new.package"));
  EXPECT_EQ(ovix::findLocalPackage(env_, "CONFIG"), program_.file("project.package"));
  EXPECT_EQ(ovix::findLocalPackage(env_, "INSTALL"), "");
  EXPECT_EQ(ovix::findLocalPackage(env_, ""), "");
  EXPECT_EQ(recorder.messages, (std::vector<std::string>{"当前程序运行目录下，未找到类型为INSTALL的package",
                                                         "程序错误，未指定补丁类型"}));

  recorder.messages.clear();
  EXPECT_FALSE(ovix::serverCommitOk(env_, "pa55", address(), port(), "DLL"));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"用户名和密码不对"});
  EXPECT_FALSE(env_.fileExists(ovix::uploadIniPath()));
  EXPECT_TRUE(ovix::serverCommitOk(env_, "Pa55", address(), port(), "DLL"));
  EXPECT_EQ(recorder.messages.back(), "上传完成");
  ovix::ServerAddress remembered = ovix::loadRememberedServer(env_);
  EXPECT_EQ(remembered.address, server_->address());
  EXPECT_EQ(remembered.port, server_->port());
  EXPECT_NE(program_.read("ovixpatch_upload.ini").rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_EQ(storeRows(kKey).size(), kFiles.size());
}

OVIX_SERVER_TEST_BACKENDS(UploadTest);

}  // namespace
