// Applying patches from the store to an installation, on both server
// backends: a download into an older copy, the choice of patches, refusals
// and failures that change nothing, signed patches, and runs that race or
// are killed.

#include "update/patch_application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "app/application.h"
#include "app/easy_log.h"
#include "app/ini_file.h"
#include "package/package_signature.h"
#include "package/server_address.h"
#include "platform/zeda_system.h"
#include "server/upload.h"
#include "testing/project_server.h"
#include "testing/recording_presenter.h"
#include "update/installation_lock.h"

namespace {

namespace fs = std::filesystem;
namespace ms = ovix::minisign;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::PrintToString;
using ovix::testing::Backend;
using ovix::testing::PackageFile;
using ovix::testing::PackageHeader;
using ovix::testing::namesIn;
using ovix::testing::ScopedRecorder;
using ovix::testing::TempDir;
using Names = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

constexpr char kKey[] = "A3A202612040905";       // the builder's
constexpr char kOtherKey[] = "A3A202612010905";  // an older one
const std::string kBackups = std::string("patch/") + kKey + "/";
constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n";

// Files below d0 .. d<dirs - 1>, each of its own size and letter.
Files someFiles(int count, int dirs, size_t size) {
  Files files;
  for (int i = 0; i < count; ++i) {
    files["d" + std::to_string(i % dirs) + "/f" + std::to_string(i) + ".dll"] =
        std::string(size + 1000 * i, static_cast<char>('a' + i));
  }
  return files;
}

// An installation of OVIX_TARNO V3 with its setup file.
class PatchApplicationTest : public ovix::testing::ProjectServerTest {
 protected:
  void SetUp() override {
    ProjectServerTest::SetUp();
    ZedaSystem::setInstallRoot(install_.path());
    install_.mkdir("temp");
    ovix::openRunLog(&env_);
    if (!ovix::testing::isChildReplay()) install_.write("ovixsetup.ini", kSetup);
    ovix::testing::makeSigningKey(&supplier_, &supplierKey_);
  }
  void TearDown() override { ovix::runLog = zedalog::EasyLog(); }

  // Packs `files`, keyed as a pack keys them, as the patch `h`, signed by
  // `signer` unless null, and uploads it.
  void upload(const Files& files, const ms::SecretKey* signer = nullptr, PackageHeader h = {}) {
    std::vector<PackageFile> records;
    for (const auto& [path, bytes] : files) {
      records.push_back({path, bytes});
      std::replace(records.back().key.begin(), records.back().key.end(), '/', '\\');
    }
    const std::string path = program_.file(std::string(h.key) + ".package");
    fs::remove(path);
    ovix::testing::writePackage(path, h, records);
    std::string why;
    if (signer != nullptr) {
      ASSERT_TRUE(ovix::signPackageFile(env_, path, *signer, &why)) << why;
    }
    ScopedRecorder quiet;
    EXPECT_TRUE(ovix::uploadPackage(env_, path, address(), port())) << PrintToString(quiet.messages);
  }
  void clearStore() {
    DatabaseHandle db = store();
    for (const char* table : {kKey, kOtherKey, "OVIXPackageInfo", "OVIXPackageSignature"})
      ASSERT_EQ(db->exeSql(("drop table if exists " + std::string(table)).c_str()), 0);
  }

  bool apply() {
    return ovix::openPatchStoreAndApply(env_, install_.path().c_str(), address(), port());
  }
  bool check() {
    return ovix::openPatchStoreAndCheck(env_, install_.path().c_str(), address(), port());
  }

  // Makes `headers` the only ones in the store.
  void setHeaders(const std::vector<PackageHeader>& headers) {
    DatabaseHandle db = store();
    ASSERT_EQ(db->exeSql("drop table if exists OVIXPackageInfo"), 0);
    for (const PackageHeader& h : headers) ovix::testing::addHeader(db.get(), h);
  }

  std::string runLogText() { return install_.read("temp/autoPatchLog.txt"); }
  std::string setupValue(const char* key) {
    ovix::IniFile ini;
    ini.load(env_, install_.file("ovixsetup.ini"));
    char const* v = ini.getValue("OVIX", key);
    return v ? v : "<none>";
  }

  // The installed files by path but the run log and the lock; with `all`
  // also the tool's own (the setup file, backups, temporary files).
  Files installed(bool all = false) {
    Files out;
    for (const auto& entry : fs::recursive_directory_iterator(install_.path())) {
      std::string rel = entry.path().lexically_relative(install_.path()).generic_string();
      bool own = rel.starts_with("patch/") || rel.starts_with("temp/") || rel == "ovixsetup.ini";
      if (entry.is_regular_file() && rel != "temp/autoPatchLog.txt" &&
          rel != ovix::kInstallationLockFile && (all || !own))
        out[rel] = install_.read(rel);
    }
    return out;
  }

  // The staging folders left in the installation.
  Names stagingFolders() {
    Names names;
    for (const std::string& name : namesIn(install_.file("patch")))
      if (name.starts_with(".staging-")) names.push_back(name);
    return names;
  }

  TempDir install_;
  ms::SecretKey supplier_;
  ms::PublicKey supplierKey_;
};

// A store still missing is reported and never created.  Then the newest
// patch to an older copy whose setup file names no product yet: a cancel
// changes nothing; then the copy takes the patch with backups and the
// header's names; a later run of the completed package backs up afresh.
TEST_P(PatchApplicationTest, ADownloadMakesTheOlderCopyEqualToThePackage) {
  ScopedRecorder recorder;
  EXPECT_FALSE(apply());
  EXPECT_FALSE(check());
  const auto missing = ::testing::StartsWith("版本补丁数据库不存在:");
  EXPECT_THAT(recorder.messages, ElementsAre(missing, missing));
  std::string error;
  EXPECT_FALSE(zddb::openServer(address(), port(), &error)
                   ->databaseExists(server_->storeDatabase()));
  EXPECT_FALSE(ovix::openPatchStoreAndApply(env_, nullptr, "a", "1"));

  const Files files = {{"bin/v80-win32/kernel.dll", std::string(5 << 20, 'K')},  // streamed
                       {"bin/v80-win32/ui.dll", "new ui"},
                       {"lua/中文.lua", "print('新')"},
                       {"xml/new.xml", "<new/>"}};
  upload(files);
  install_.write("bin/v80-win32/kernel.dll", "old kernel");
  install_.write("bin/v80-win32/ui.dll", "old ui");
  install_.write("lua/中文.lua", "old");
  install_.write("ovixsetup.ini", "[Other]\nKEEP=1\n");
  const Files before = installed();
  recorder.messages.clear();
  recorder.cancelAt = 1;
  EXPECT_FALSE(apply());
  EXPECT_EQ(recorder.steps, (Names{"下载补丁 0/4", "下载补丁 1/4", "下载补丁 4/4"}));
  EXPECT_EQ(recorder.messages, Names{"已取消下载补丁，安装目录没有任何改动"});
  EXPECT_TRUE(installed() == before);
  EXPECT_TRUE(stagingFolders().empty());
  EXPECT_EQ(setupValue("PATCH"), "<none>");

  recorder.cancelAt = UINT64_MAX;
  recorder.messages.clear();
  ASSERT_TRUE(check());
  ASSERT_TRUE(apply()) << PrintToString(recorder.messages);
  EXPECT_TRUE(installed() == files);  // printed briefly: the files are large
  const Files recorded = {{"NAME", "OVIX_TARNO"},         {"VERSION", "V3"},
                          {"BUILDTIME", "2020-01-01"},     {"KERNELTIME", "2026-01-01"},
                          {"PATCH", kKey}};
  for (const auto& [name, value] : recorded) EXPECT_EQ(setupValue(name.c_str()), value) << name;
  EXPECT_THAT(install_.read("ovixsetup.ini"), HasSubstr("KEEP=1"));
  EXPECT_EQ(install_.read(kBackups + "bin/v80-win32/ui.dll"), "old ui");
  EXPECT_FALSE(fs::exists(install_.file(kBackups + "xml/new.xml")));  // was not there
  EXPECT_THAT(runLogText(), HasSubstr("Update file:"));

  // Up to date now: nothing newer, which the run log explains.
  EXPECT_FALSE(check());
  EXPECT_THAT(runLogText(), HasSubstr("版本数据库中没有比之更新的补丁"));
  EXPECT_TRUE(recorder.messages.empty()) << PrintToString(recorder.messages);

  // The installation is set back by hand and the package runs again.
  install_.write("ovixsetup.ini", kSetup);
  install_.write("bin/v80-win32/ui.dll", "second");
  ASSERT_TRUE(apply());
  EXPECT_EQ(install_.read(kBackups + "bin/v80-win32/ui.dll"), "second");
  EXPECT_EQ(install_.read("bin/v80-win32/ui.dll"), "new ui");
}

// Newer means more than sixty seconds newer, the first of close ones wins,
// and dependents follow their base by guid.
TEST_P(PatchApplicationTest, TheChosenPatchIsTheFirstClearlyNewerOneWithItsDependents) {
  // The chosen key, then its dependents'.
  auto choose = [&](const char* version, const char* name, const char* installed) {
    std::vector<std::unique_ptr<ZdDbObject>> headers;
    std::vector<OVIXPackageInfo*> dependents;
    OVIXPackageInfo* best =
        ovix::findNewerPatch(version, name, installed, store().get(), headers, &dependents);
    Names keys;
    if (best != nullptr) keys.push_back(best->skey());
    for (const OVIXPackageInfo* dependent : dependents) keys.push_back(dependent->skey());
    return keys;
  };
  setHeaders({{.key = "A3A1", .packTime = "2026-12-04 09:01:00"},  // 60 s after 09:00
              {.key = "A3A2", .packTime = "2026-12-04 09:02:00"},
              {.key = "A3A3", .packTime = "2026-12-04 09:02:30"},  // 30 s after A3A2
              {.key = "A3A4", .packTime = "2026-12-05", .name = "OVIX_VEL"}});
  EXPECT_EQ(choose("v3", "ovix_tarno", "202612040900"), Names{"A3A2"});
  EXPECT_EQ(choose("V3", "OVIX_TARNO", "2026-12-04 09:00:59"), Names{"A3A2"});  // A3A1: 61 s
  EXPECT_EQ(choose("V3", "OVIX_TARNO", "2026-12-04 09:01:30"), Names{});  // A3A3: 60 s

  auto dependent = [](const char* key, const char* packTime, const char* base) {
    return PackageHeader{.key = key, .packTime = packTime, .depend = true, .dependGuid = base};
  };
  setHeaders({{.key = "A3A1", .packTime = "2026-12-04-10-00", .guid = "{BASE}"},
              dependent("A3A2", "2026-12-04-11-00", "{BASE}"),
              dependent("A3A3", "2026-12-04-12-00", "{base}"),  // case matters
              dependent("A3A4", "2026-12-04-10-00", "{BASE}"),  // not after the base
              dependent("A3A5", "2026-12-04-13-00", "{BASE}")});
  EXPECT_EQ(choose("V3", "OVIX_TARNO", "2026-01-01"), (Names{"A3A1", "A3A2", "A3A5"}));
}

// Whatever makes the patch unsafe or makes it fail changes nothing and says
// why in one message: records that are not safe to write (each checked on
// the very values then written), headers or tables that cannot serve as a
// package, links below the installation, a file that cannot take its place,
// and, where the installation trusts a key, every change made after signing,
// a key it does not trust and a damaged key file.  Nothing is written
// through a link, nor is a backup or temporary file made outside the
// installation.  Trusting none, it applies an unsigned patch unchecked.
TEST_P(PatchApplicationTest, AnUnsafeFailingOrForgedPatchChangesNothing) {
  const Files package = {{"a.dll", "new a"},     {"b.dll", "new b"},     {"b2/deep/n.dll", "new n"},
                         {"bin/b.dll", "new b"}, {"c.dll", "new c"}, {"ovixsetup.ini", kSetup},
                         {"lib/a.dll", "new a"}, {"lib/big.dll", std::string(3 << 20, 'B')}};
  TempDir outside;
  outside.write("victim", "victim");
  ms::SecretKey stranger;
  ms::PublicKey strangerKey;
  ovix::testing::makeSigningKey(&stranger, &strangerKey);
  auto record = [this](std::string key, const char* crc = nullptr, std::string bytes = "evil") {
    return [=, this] {
      ovix::testing::addFileRecord(store().get(), kKey, {key, bytes, "", 0, crc});
    };
  };
  auto header = [this](const char* key, const char* table, const char* name = "OVIX_TARNO") {
    return [=, this] {
      setHeaders({{.key = key, .packTime = "2026-12-05", .refTable = table, .name = name}});
    };
  };
  auto sql = [this](std::string statement, std::vector<std::string> values = {}) {
    return [=, this] { EXPECT_TRUE(server_->run(server_->storeDatabase(), statement, values)); };
  };
  // New bytes of `file` with their own CRC: only the signature can tell.
  auto replaceBytes = [&](const char* file, std::string bytes) {
    return sql(std::string("update ") + kKey + " set m_stream=?, m_crc=? where m_skey=?",
               {bytes, ovix::testing::crcOf(bytes), file});
  };
  // Where the system makes no links (Wine), the rows that need one are left out.
  const bool links = ovix::testing::makeSymbolicLink(outside.file("victim"), outside.file("probe"));
  fs::remove(outside.file("probe"));
  auto folderLink = [&](const char* at) -> std::function<void()> {
    if (!links) return nullptr;
    return [&, at] { ovix::testing::makeSymbolicLink(outside.path(), install_.file(at)); };
  };
  struct Case {
    std::function<void()> arrange;
    std::string message;  // a part of the one message
    // Signed by `signer`, the supplier's key trusted: refused by the signature check.
    const ms::SecretKey* signer = nullptr;
  } cases[] = {
      {record("..\\x"), "补丁中的文件路径..\\x不在安装目录之内，补丁被拒绝"},
      {record("a\\..\\..\\x"), "不在安装目录之内"},
      {record("C:\\x"), "不在安装目录之内"},
      {record("\\\\host\\share\\x"), "不在安装目录之内"},
      {record("/etc/x"), "不在安装目录之内"},
      {record("a\\.\\b"), "不在安装目录之内"},
      {record("a\nb.dll"), "补丁中的文件路径a\\x0Ab.dll含有控制字符，补丁被拒绝"},
      {record("\x1b[2J.dll"), "\\x1B[2J.dll含有控制字符"},
      {record("\xff\xfe.dll"), "\\xFF\\xFE.dll不是有效的文字编码"},
      {record("bin\\nul.dll"), "含有Windows不允许的字符或名称"},
      {record("bin\\" + std::string(300, 'n') + ".dll"), "中的文件名过长，补丁被拒绝"},
      {record("bin/b.dll"), "出现了不止一次，补丁被拒绝"},  // the packed bin\\b.dll
      {record("e.dll", ""), "补丁中文件e.dll的校验码不合法，补丁被拒绝"},
      {record("e.dll", "1234567"), "补丁中文件e.dll的校验码1234567不合法，补丁被拒绝"},
      {record("e.dll", "1234567G"), "校验码1234567G不合法"},
      // Bytes that do not match their CRC, streamed from a server's row.
      {record("e.dll", "00000000", std::string(3 << 20, 'e')), "补丁更新失败，已经恢复原始文件"},
      {header("A3A202612050000", "NoSuchTable"), "无法从服务器上读入补丁数据，请查看服务器连接"},
      {header("..\\..\\x", kKey), "补丁..\\..\\x的包信息不合法，补丁被拒绝"},
      {header(kKey, "x; drop table y"), "补丁A3A202612040905的包信息不合法，补丁被拒绝"},
      // An installation without product name takes the header's: here a
      // name with a line that would add its own keys to the setup file.
      {[&] {
         header("A3A202612050001", "A3A202612050001", "OVIX_TARNO\n[OVIX]\nPATCH=Z")();
         install_.write("ovixsetup.ini", "[OVIX]\n");
       },
       "补丁A3A202612050001的包信息不合法，补丁被拒绝"},
      {folderLink("bin"), "补丁中的文件路径bin\\b.dll经过安装目录中的符号链接，补丁被拒绝"},
      {folderLink("patch"), "中建立补丁的临时目录"},
      {replaceBytes("lib\\a.dll", "new A"), "文件lib\\a.dll的数据与签名时不同", &supplier_},
      {replaceBytes("lib\\big.dll", std::string(3 << 20, 'b')), "文件lib\\big.dll的数据与签名时不同",
       &supplier_},
      // A file swapped in from another signed patch.
      {replaceBytes("lib\\a.dll", "old signed a"), "文件lib\\a.dll的数据与签名时不同", &supplier_},
      {replaceBytes("bin\\b.dll", ""), "文件bin\\b.dll的数据与签名时不同", &supplier_},
      {sql(std::string("delete from ") + kKey + " where m_skey=?", {"bin\\b.dll"}),
       "签名的文件bin\\b.dll不在补丁中", &supplier_},
      {[this] { ovix::testing::addFileRecord(store().get(), kKey, {"bin\\evil.dll", "evil"}); },
       "文件bin\\evil.dll不在签名的清单中", &supplier_},
      // The header presented as newer.
      {sql(std::string("update OVIXPackageInfo set m_pack_time='2027-01-01-00-00' where m_skey='") +
           kKey + "'"),
       "包信息的pack-time与签名时不同", &supplier_},
      {sql("delete from OVIXPackageSignature"), "补丁没有签名", &supplier_},
      {[] {}, "不受信任", &stranger},
      {[this] { install_.write("sys/trusted-keys/broken.pub", "not a key"); },
       "broken.pub不是minisign公钥", &supplier_},
      // The package puts back what it replaced and takes away what it
      // brought (b2/deep/n.dll comes before c.dll); a link comes back as a
      // link, never as the bytes it points to.
      {[&] {
         ovix::testing::makeSymbolicLink(outside.file("victim"), install_.file("a.dll"));
         ovix::testing::makeSymbolicLink(outside.file("x"), install_.file("b.dll.restore"));
         install_.mkdir("c.dll/in-the-way");
       },
       "补丁更新失败，已经恢复原始文件，请查看日志！"},
  };
  const std::string unverified = std::string("补丁") + kKey + "没有通过签名校验：";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    if (!c.arrange) continue;
    // MariaDB's text columns refuse bytes that are not UTF-8 themselves.
    if (GetParam() == Backend::kMariaDb && c.message.find("文字编码") != std::string::npos) continue;
    clearStore();
    if (c.signer != nullptr) {
      upload({{"lib/a.dll", "old signed a"}}, &supplier_,
             {.key = kOtherKey, .packTime = "2026-12-01-09-05"});
    }
    Files uploaded = package;
    if (c.signer == nullptr) uploaded.erase("lib/big.dll");  // streamed for the signed rows only
    upload(uploaded, c.signer);
    for (const auto& entry : fs::directory_iterator(install_.path()))
      if (entry.path().filename() != "temp") fs::remove_all(entry.path());
    if (c.signer != nullptr)
      install_.write("sys/trusted-keys/supplier.pub", ms::publicKeyText(supplierKey_));
    install_.write("ovixsetup.ini", kSetup);
    install_.write("b.dll", "old b");
    c.arrange();
    // A refused signature leaves even the tool's own files as they were.
    const Files before = installed(c.signer != nullptr);
    const size_t logged = runLogText().size();
    ScopedRecorder recorder;
    EXPECT_FALSE(apply());
    EXPECT_THAT(recorder.messages,
                ElementsAre(::testing::AllOf(
                    HasSubstr(c.message), ::testing::StartsWith(c.signer ? unverified : ""),
                    ::testing::EndsWith(c.signer ? "，补丁被拒绝" : ""))));
    if (c.signer != nullptr) {
      EXPECT_THAT(runLogText().substr(logged), HasSubstr(c.message));
    }
    EXPECT_TRUE(installed(c.signer != nullptr) == before);
    EXPECT_FALSE(fs::exists(install_.file("b2")));  // made by the package, gone with it
    EXPECT_FALSE(fs::exists(install_.file("patch/x")));
    EXPECT_EQ(setupValue("PATCH"), "<none>");
    EXPECT_TRUE(stagingFolders().empty());
    EXPECT_EQ(namesIn(outside.path()), Names{"victim"});
    EXPECT_EQ(outside.read("victim"), "victim");
    EXPECT_FALSE(fs::exists(fs::path(install_.path()).parent_path() / "x"));
  }
  if (links) {
    ASSERT_TRUE(fs::is_symlink(install_.file("a.dll")));
    EXPECT_EQ(fs::read_symlink(install_.file("a.dll")), outside.file("victim"));
  }

  // Without the obstacle it succeeds, despite a link at the setup file's
  // temporary name and a lower-case CRC; a.dll's backup is the link itself.
  fs::remove_all(install_.file("c.dll"));
  ovix::testing::makeSymbolicLink(outside.file("setup"), install_.file("ovixsetup.ini.tmp"));
  std::string crc = ovix::testing::crcOf("bee");
  for (char& ch : crc) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  ovix::testing::addFileRecord(store().get(), kKey, {"e.dll", "bee", "", 0, crc.c_str()});
  size_t logged = runLogText().size();
  ScopedRecorder recorder;
  EXPECT_TRUE(apply()) << PrintToString(recorder.messages);
  Files now = package;
  now.erase("ovixsetup.ini");
  now.erase("lib/big.dll");
  now["e.dll"] = "bee";
  EXPECT_TRUE(installed() == now) << PrintToString(installed());
  EXPECT_EQ(fs::is_symlink(install_.file(kBackups + "a.dll")), links);
  EXPECT_EQ(install_.read(kBackups + "b.dll"), "old b");
  EXPECT_FALSE(fs::is_symlink(install_.file("ovixsetup.ini")));
  EXPECT_EQ(namesIn(outside.path()), Names{"victim"});
  EXPECT_EQ(outside.read("victim"), "victim");
  EXPECT_THAT(runLogText().substr(logged), HasSubstr("补丁没有经过签名校验"));

  // Signed and with the signer's key trusted, it applies again.
  clearStore();
  upload(package, &supplier_);
  install_.write("sys/trusted-keys/supplier.pub", ms::publicKeyText(supplierKey_));
  install_.write("ovixsetup.ini", kSetup);
  for (const char* file : {"lib/a.dll", "lib/big.dll"}) install_.write(file, "installed");
  logged = runLogText().size();
  ASSERT_TRUE(apply()) << PrintToString(recorder.messages);
  EXPECT_EQ(install_.read("lib/a.dll"), "new a");
  EXPECT_EQ(install_.read("lib/big.dll"), package.at("lib/big.dll"));
  EXPECT_THAT(runLogText().substr(logged), HasSubstr("用1个受信任的公钥校验"));
}

// A store that answers a second select differently (a view with a random
// key) never gets a key written that the check would refuse.
TEST_P(PatchApplicationTest, AStoreThatChangesItsAnswerNeverGetsAnUncheckedKeyWritten) {
  upload({{"bin/a.dll", "new"}});
  const std::string key = kKey, store = server_->storeDatabase();
  const bool maria = GetParam() == Backend::kMariaDb;
  ASSERT_TRUE(server_->scratch().execute(
      store, maria ? "RENAME TABLE " + key + " TO " + key + "_real"
                   : "ALTER TABLE " + key + " RENAME TO " + key + "_real"));
  ASSERT_TRUE(server_->scratch().execute(
      store, "CREATE VIEW " + key + " AS SELECT " +
                 (maria ? "IF(m_skey = 'bin\\\\a.dll' AND RAND() < 0.5, "
                          "'..\\\\out\\\\pwned', m_skey)"
                        : "CASE WHEN m_skey = 'bin\\a.dll' AND random() % 2 = 0 "
                          "THEN '..\\out\\pwned' ELSE m_skey END") +
                 " AS m_skey, m_crc, m_guid, m_version, m_stream FROM " + key + "_real"));
  const fs::path outside = fs::path(install_.path()).parent_path() / "out";
  int refused = 0;
  for (int run = 0; run < 30; ++run) {
    install_.write("ovixsetup.ini", kSetup);
    ScopedRecorder recorder;
    if (!apply()) ++refused;
    ASSERT_FALSE(fs::exists(outside / "pwned")) << "run " << run;
  }
  EXPECT_GT(refused, 0);
  EXPECT_LT(refused, 30);
}

// Two downloads into one installation run one after the other: the second
// finds the installation up to date, and every file is new.
TEST_P(PatchApplicationTest, TwoDownloadsAtOnceApplyThePatchExactlyOnce) {
  const Files newFiles = someFiles(24, 4, 3000);
  const bool parent = !ovix::testing::isChildReplay();  // see runChildren
  if (parent) upload(newFiles);
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (parent) {
      fs::remove_all(install_.file("patch"));
      install_.write("ovixsetup.ini", kSetup);
      for (const auto& [key, bytes] : newFiles) install_.write(key, "old " + key);
    }
    auto results = ovix::testing::runChildren(2, [&](int child) {
      std::this_thread::sleep_for(
          std::chrono::microseconds(std::mt19937(2 * round + child)() % 20000));
      ScopedRecorder quiet;
      return apply();
    });
    EXPECT_THAT(results, ::testing::UnorderedElementsAre(ovix::testing::kChildSucceeded,
                                                         ovix::testing::kChildFailed));
    EXPECT_EQ(setupValue("PATCH"), kKey);
    for (const auto& [key, bytes] : newFiles) {
      EXPECT_TRUE(install_.read(key) == bytes) << key;
      // Backed up once, from before the first change.
      EXPECT_EQ(install_.read(kBackups + key), "old " + key) << key;
    }
    EXPECT_TRUE(stagingFolders().empty());
  }
}

using Path = const std::string&;

// Kills its own process just before its Nth change to the file system.
class KillingEnv : public ovix::EnvWrapper {
 public:
  explicit KillingEnv(int killAt) : EnvWrapper(ovix::Env::Default()), killAt_(killAt) {}
  bool newWritableFile(Path p, ovix::WriteMode m, std::unique_ptr<ovix::WritableFile>* r) override {
    return step(), EnvWrapper::newWritableFile(p, m, r);
  }
  bool renameFile(Path from, Path to) override { return step(), EnvWrapper::renameFile(from, to); }
  bool openTree(Path root, std::unique_ptr<ovix::DirectoryTree>* result) override {
    std::unique_ptr<ovix::DirectoryTree> real;
    if (!EnvWrapper::openTree(root, &real)) return false;
    *result = std::make_unique<Tree>(std::move(real), this);
    return true;
  }

 private:
  using Wrapper = ovix::DirectoryTreeWrapper;
  class Tree : public Wrapper {
   public:
    Tree(std::unique_ptr<ovix::DirectoryTree> real, KillingEnv* env)
        : Wrapper(std::move(real)), env_(env) {}
    bool createFile(Path p, std::unique_ptr<ovix::WritableFile>* r) override {
      return env_->step(), Wrapper::createFile(p, r);
    }
    bool createDirectories(Path p, std::vector<std::string>* made) override {
      return env_->step(), Wrapper::createDirectories(p, made);
    }
    bool rename(Path a, Path b) override { return env_->step(), Wrapper::rename(a, b); }
    bool hardLink(Path a, Path b) override { return env_->step(), Wrapper::hardLink(a, b); }
    bool removeFile(Path p) override { return env_->step(), Wrapper::removeFile(p); }
    bool removeTree(Path p) override { return env_->step(), Wrapper::removeTree(p); }

   private:
    KillingEnv* env_;
  };

  void step() {
    if (++count_ == killAt_) ovix::testing::killThisProcess();
  }
  int killAt_;
  int count_ = 0;
};

TEST_P(PatchApplicationTest, AnApplyKilledAtAnyMomentLeavesEveryFileWholeAndRunsAgain) {
  const Files newFiles = someFiles(12, 3, 20000);
  Files oldFiles;
  for (const auto& [key, bytes] : newFiles) {
    if (key.ends_with("/f0.dll") || key.ends_with("/f4.dll") || key.ends_with("/f8.dll"))
      continue;  // new to the installation
    oldFiles[key] = "old " + key;
  }
  // A link at one file's place leads outside, where the system makes links
  // (Wine makes none): no kill may write there.
  TempDir outside;
  if (!ovix::testing::isChildReplay()) {  // see runChildren
    upload(newFiles);
    for (const auto& [key, bytes] : oldFiles) install_.write(key, bytes);
    outside.write("victim", "victim");
    fs::remove(install_.file("d1/f1.dll"));
    if (ovix::testing::makeSymbolicLink(outside.file("victim"), install_.file("d1/f1.dll"))) {
      oldFiles["d1/f1.dll"] = "victim";
    } else {
      install_.write("d1/f1.dll", oldFiles["d1/f1.dll"]);
    }
  }

  // A child dies just before its Nth file-system change, for every N until
  // one gets through, resuming what the earlier ones left: files stay whole.
  int point = 1;
  for (; point < 500; ++point) {
    SCOPED_TRACE("killed at " + std::to_string(point));
    auto result = ovix::testing::runChildren(1, [&](int) {
      KillingEnv env(point);
      ScopedRecorder quiet;
      return ovix::openPatchStoreAndApply(env, install_.path().c_str(), address(), port());
    })[0];
    EXPECT_EQ(namesIn(outside.path()), Names{"victim"});
    EXPECT_EQ(outside.read("victim"), "victim");
    for (const auto& [key, bytes] : newFiles) {
      std::string now = install_.read(key);
      bool whole = now == bytes || (oldFiles.count(key) ? now == oldFiles[key]
                                                        : !fs::exists(install_.file(key)));
      EXPECT_TRUE(whole) << key << " holds " << now.size() << " bytes";
      if (fs::exists(install_.file(kBackups + key))) {
        EXPECT_EQ(install_.read(kBackups + key), oldFiles[key]);
      }
    }
    EXPECT_THAT(setupValue("PATCH"), ::testing::AnyOf("<none>", kKey));
    if (!result.killed) break;  // this child got through
  }
  EXPECT_GE(point, 10) << "the kills did not land inside the apply";
  EXPECT_EQ(setupValue("PATCH"), kKey);
  for (const auto& [key, bytes] : newFiles) EXPECT_TRUE(install_.read(key) == bytes) << key;
  for (const auto& [key, bytes] : oldFiles)
    EXPECT_EQ(install_.read(kBackups + key), bytes) << "backup of " << key;
}

OVIX_SERVER_TEST_BACKENDS(PatchApplicationTest);

}  // namespace
