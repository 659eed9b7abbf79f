// `ovixpatch pack` and `ovixpatch project` run as a user runs them: the
// package they leave is read back with the sqlite3 C API.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/crc.h"
#include "testing/temp_dir.h"

namespace {

using ovix::testing::TempDir;

struct Outcome {
  int status = -1;
  std::string err;
};

class OvixpatchPackTest : public ::testing::Test {
 protected:
  Outcome run(const std::string& args, const std::string& prefix = "") {
    bool piped = prefix.find('|') != std::string::npos;
    std::string cmd = prefix + std::string(OVIXPATCH_BINARY) + " --home " + home_.path() +
                      " --root " + home_.path() + " " + args + " 2>" + home_.file("err") +
                      (piped ? "" : " </dev/null") + " >/dev/null";
    int status = std::system(("bash -c '" + cmd + "'").c_str());
    Outcome r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = home_.read("err");
    return r;
  }

  // The one package under the user folder, or "".
  std::string packageIn(const std::string& user) {
    std::string found;
    std::string cmd = "ls " + home_.file(user) + "/*.package 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    char line[4096];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
      found = line;
      found.pop_back();
    }
    if (p != nullptr) pclose(p);
    return found;
  }

  TempDir home_;
  TempDir tree_;
};

std::vector<std::vector<std::string>> query(const std::string& package, const char* sql) {
  std::vector<std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  sqlite3_open_v2(package.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.push_back(sqlite3_column_type(stmt, i) == SQLITE_NULL ? "<null>"
                                                                : reinterpret_cast<const char*>(text));
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

TEST_F(OvixpatchPackTest, APackHoldsTheHeaderAndEveryRecordColumnByColumn) {
  tree_.write("ovixsetup.ini",
              "[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V6\nKERNELTIME=2026-01-02\nBUILDTIME=2026-12-03\n");
  tree_.write("bin/a.dll", std::string("\0\1\2", 3));
  tree_.write("bin/中文.xml", "<x/>");
  tree_.write("notes.txt", "skipped by type");
  Outcome r = run("pack --path " + tree_.path() + " --user rel");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("打包完成，包版本信息："), std::string::npos);
  std::string package = packageIn("rel");
  ASSERT_FALSE(package.empty());

  auto header = query(package,
                      "SELECT m_skey, m_name, m_ver, m_type, m_ver_time, m_kernal_time, "
                      "m_pack_time, m_ref_tblname, m_force, m_depend, m_depend_guid, "
                      "length(m_guid), m_proj_id, m_proj_guid FROM OVIXPackageInfo");
  ASSERT_EQ(header.size(), 1u);
  const auto& h = header[0];
  EXPECT_EQ(h[0].substr(0, 3), "D6A");
  EXPECT_EQ(h[0].size(), 15u);
  EXPECT_EQ(h[1], "OVIX_MORBIX");
  EXPECT_EQ(h[2], "V6");
  EXPECT_EQ(h[3], "DLL");
  EXPECT_EQ(h[4], "2026-12-03");
  EXPECT_EQ(h[5], "2026-01-02");
  EXPECT_EQ(h[6].size(), 16u);
  EXPECT_EQ(h[7], h[0]);
  EXPECT_EQ(h[8], "1");
  EXPECT_EQ(h[9], "0");
  EXPECT_EQ(h[10], "<null>");
  EXPECT_EQ(h[11], "38");
  EXPECT_EQ(h[12], "<null>");
  EXPECT_EQ(h[13], "<null>");

  auto files = query(package,
                     "SELECT m_skey, m_crc, m_dbkey, m_guid, m_version, hex(m_stream) "
                     "FROM OVIXFileRecord ORDER BY rowid");
  ASSERT_EQ(files.size(), 3u);
  ovix::Env& env = *ovix::Env::Default();
  EXPECT_EQ(files[0], (std::vector<std::string>{
                          "bin\\a.dll", crc::crc32_file_str(env, tree_.file("bin/a.dll")),
                          "<null>", "<null>", "0", "000102"}));
  EXPECT_EQ(files[1][0], "bin\\中文.xml");
  EXPECT_EQ(files[1][5], "3C782F3E");
  EXPECT_EQ(files[2][0], "ovixsetup.ini");
}

TEST_F(OvixpatchPackTest, AProjectPackTakesTheVersionAndProjectFromOptions) {
  tree_.write("projectSpec.zeda", "db");
  tree_.write("cfg.lua", "x");
  std::string info = home_.write("P1.ini", "[PatchProject]\nGUID={G1}\nNAME=P1\n");
  Outcome cancelled = run("project --path " + tree_.path() + " --user u");
  EXPECT_EQ(cancelled.status, 1);  // no --name/--version: the version dialog counts as cancelled
  EXPECT_TRUE(packageIn("u").empty());

  Outcome bad = run("project --path " + tree_.path() + " --user u --name OVIX_VEL --version V1 --date 9999-13-01");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("日期格式有错，要求为YYYY-MM-DD的格式"), std::string::npos);

  Outcome ok = run("project --path " + tree_.path() + " --types \"\" --user u --name OVIX_VEL "
               "--version V1 --info " + info);
  ASSERT_EQ(ok.status, 0) << ok.err;
  std::string package = packageIn("u");
  auto h = query(package, "SELECT m_type, m_ver_time, m_proj_guid, m_proj_id FROM OVIXPackageInfo");
  EXPECT_EQ(h[0], (std::vector<std::string>{"CONFIG", "", "{G1}", "P1"}));
  auto files = query(package, "SELECT m_skey, m_dbkey FROM OVIXFileRecord ORDER BY rowid");
  EXPECT_EQ(files, (std::vector<std::vector<std::string>>{{"cfg.lua", "<null>"},
                                                          {"projectSpec.zeda", "projectSpec.zeda"}}));
}

TEST_F(OvixpatchPackTest, AFullDiskFailsThePackAndLeavesNoPackage) {
  tree_.write("ovixsetup.ini",
              "[OVIX]\nNAME=OVIX_VEL\nVERSION=V2\nKERNELTIME=2026-01-02\nBUILDTIME=2026-12-03\n");
  std::string big(3 << 20, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 % 251);
  tree_.write("big.dll", big);
  // Files may grow to 1 MiB only: the package cannot be completed.
  Outcome r = run("pack --path " + tree_.path() + " --user full", "ulimit -f 1024; trap \"\" XFSZ; ");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("写入补丁包失败"), std::string::npos) << r.err;
  EXPECT_TRUE(packageIn("full").empty());
  std::string leftovers;
  FILE* p = popen(("ls -A " + home_.file("full")).c_str(), "r");
  char line[512];
  while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) leftovers += line;
  if (p != nullptr) pclose(p);
  EXPECT_EQ(leftovers, "");
}

// An embedded store in `store` whose administrator has `password`; the
// server options that name it.
std::string embeddedStore(const TempDir& store, const std::string& password) {
  sqlite3* general = nullptr;
  sqlite3_open(store.file("ovixgeneral.sqlite").c_str(), &general);
  sqlite3_exec(general, ("CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
                         "INSERT INTO ZedaUser VALUES ('system', '" + password + "');").c_str(),
               nullptr, nullptr, nullptr);
  sqlite3_close(general);
  return "--server file:" + store.path() + " --port 0";
}

TEST_F(OvixpatchPackTest, APackUploadsToTheEmbeddedStoreWithThePasswordFromStdin) {
  tree_.write("ovixsetup.ini",
              "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-02\nBUILDTIME=2026-12-03\n");
  tree_.write("bin/a.dll", "abc");
  ASSERT_EQ(run("pack --path " + tree_.path() + " --user rel").status, 0);
  std::string package = packageIn("rel");
  ASSERT_EQ(std::rename(package.c_str(), home_.file("p.package").c_str()), 0);

  // Longer than any fixed line buffer, shorter than the 4 KiB limit.
  const std::string password = "Pa55 word" + std::string(3000, 'x');
  TempDir store;
  std::string server = embeddedStore(store, password);

  Outcome none = run("upload " + server);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("OVIX_ADMIN_PASSWORD"), std::string::npos);

  Outcome wrong = run("upload " + server + " --password-stdin", "echo wrong | ");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("用户名和密码不对"), std::string::npos);

  Outcome tooLong = run("upload " + server + " --password-stdin",
                        "head -c 4097 /dev/zero | tr \"\\\\0\" x | ");
  EXPECT_EQ(tooLong.status, 1);
  EXPECT_NE(tooLong.err.find("longer than 4096 bytes"), std::string::npos) << tooLong.err;

  Outcome ok = run("upload " + server + " --password-stdin", "printf \"" + password + "\\r\\n\" | ");
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.err.find("上传完成"), std::string::npos);
  EXPECT_EQ(ok.err.find("Pa55"), std::string::npos);  // the password is never shown
  auto rows = query(store.file("ovixinstallpatch.sqlite"),
                    "SELECT m_name, m_ver FROM OVIXPackageInfo");
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"OVIX_TARNO", "V3"}}));

  Outcome again = run("upload " + server, "OVIX_ADMIN_PASSWORD=\"" + password + "\" ");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.err.find("该补丁已经上传过服务器，无法再传"), std::string::npos);
}

TEST_F(OvixpatchPackTest, APipelineUploadsThePackageThatPackPrinted) {
  tree_.write("ovixsetup.ini",
              "[OVIX]\nNAME=OVIX_VEL\nVERSION=V2\nKERNELTIME=2026-01-02\nBUILDTIME=2026-12-03\n");
  tree_.write("bin/a.dll", "abc");
  TempDir store;
  std::string server = embeddedStore(store, "pw");
  // The package stays in the user folder: without --package the upload
  // would find none in the working folder.
  std::string pack = std::string(OVIXPATCH_BINARY) + " --home " + home_.path() + " --root " +
                     home_.path() + " pack --path " + tree_.path() + " --user rel 2>/dev/null";
  Outcome ok = run("upload --package \"$f\" " + server,
                   "f=$(" + pack + ") && OVIX_ADMIN_PASSWORD=pw ");
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(query(store.file("ovixinstallpatch.sqlite"), "SELECT m_name FROM OVIXPackageInfo"),
            (std::vector<std::vector<std::string>>{{"OVIX_VEL"}}));

  tree_.write("ovixsetup.ini",
              "[OVIX]\nNAME=OVIX_VEL\nVERSION=V2\nBUILDTIME=2999-01-01\n");  // newer than the store
  Outcome upToDate = run("download --install " + tree_.path() + " " + server);
  EXPECT_EQ(upToDate.status, 1);
  EXPECT_NE(upToDate.err.find("版本数据库中没有比之更新的补丁"), std::string::npos) << upToDate.err;

  Outcome wrongKind = run("upproject --package \"$f\" " + server,
                          "f=" + packageIn("rel") + " && OVIX_ADMIN_PASSWORD=pw ");
  EXPECT_EQ(wrongKind.status, 1);
  EXPECT_NE(wrongKind.err.find("is not a package file of type CONFIG"), std::string::npos)
      << wrongKind.err;
}

// Every failure says on standard error what happened, and a server that
// cannot be reached is followed by the reason on the next line.
TEST_F(OvixpatchPackTest, FailuresSayWhy) {
  std::string noKeys = home_.write("nokeys.ini", "[PatchProject]\nNAME=P1\n");
  tree_.write("cfg.lua", "x");
  std::string cannotConnect = "无法连接ovixgeneral数据库，mysql服务器为：";
  struct Case {
    std::string args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"download --install \"\" --server h --port 1", "--install names no directory"},
      {"download --install " + tree_.file("none") + " --server h --port 1", "does not exist"},
      {"download --install " + tree_.path() + " --server h --port 1", "holds no ovixsetup.ini"},
      {"checkupdate", "无法访问更新服务器"},
      {"project --path " + tree_.path(), "needs --name NAME and --version VER"},
      {"pack --path " + tree_.path(), "needs --name NAME and --version VER"},
      {"project --path " + tree_.path() + " --name OVIX_VEL --version V1 --info " + tree_.file("x.ini"),
       "cannot be read"},
      {"project --path " + tree_.path() + " --name OVIX_VEL --version V1 --info " + noKeys,
       "has no GUID and NAME"},
      {"upload --server file:" + tree_.file("none") + " --port 1", cannotConnect},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.args, "OVIX_ADMIN_PASSWORD=pw ");
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.args << ": " << r.err;
  }
  // The reason stands between the system's message and the verdict.
  Outcome unreachable = run("upload --server file:" + tree_.file("none") + " --port 1",
                            "OVIX_ADMIN_PASSWORD=pw ");
  size_t reason = unreachable.err.find('\n', unreachable.err.find(cannotConnect)) + 1;
  size_t verdict = unreachable.err.find("用户名和密码不对");
  ASSERT_NE(verdict, std::string::npos) << unreachable.err;
  EXPECT_GT(verdict, reason + 1) << unreachable.err;
  EXPECT_NE(home_.read("ovixpatch.logfile").find(unreachable.err.substr(reason, verdict - reason - 1)),
            std::string::npos)
      << "the command log keeps the reason";
}

TEST_F(OvixpatchPackTest, AMissingHomeIsMadeAndAMissingRootRefused) {
  std::string cmd = std::string(OVIXPATCH_BINARY) + " --home " + home_.file("new/home") +
                    " --root " + home_.path() + " checkupdate 2>/dev/null";
  EXPECT_NE(std::system(cmd.c_str()), -1);
  EXPECT_TRUE(ovix::Env::Default()->isDirectory(home_.file("new/home")));

  cmd = std::string(OVIXPATCH_BINARY) + " --root " + home_.file("no-root") + " checkupdate 2>" +
        home_.file("err");
  int status = std::system(cmd.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
  EXPECT_NE(home_.read("err").find("no-root"), std::string::npos) << home_.read("err");
}

}  // namespace
