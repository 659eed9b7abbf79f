// ovixpatch run as a user runs it: its exit statuses, what it says on
// failure, and the packages it leaves, read back with the sqlite3 C API.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/crc.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::TempDir;
using Rows = std::vector<std::vector<std::string>>;

struct Outcome {
  int status = -1;
  std::string err;
};

constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V6\nKERNELTIME=2026-01-02\nBUILDTIME=2026-12-03\n";

// Runs `sql` on the SQLite file `file`, creating it; the rows, NULL read as
// "<null>".
Rows query(const std::string& file, const std::string& sql) {
  Rows rows;
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  auto collect = [](void* out, int n, char** values, char**) {
    auto* rows = static_cast<Rows*>(out);
    rows->emplace_back();
    for (int i = 0; i < n; ++i) rows->back().push_back(values[i] ? values[i] : "<null>");
    return 0;
  };
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), collect, &rows, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  return rows;
}

// An embedded store in `store` whose administrator has `password`; the
// server options that name it.
std::string embeddedStore(const TempDir& store, const std::string& password) {
  query(store.file("ovixgeneral.sqlite"),
        "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
        "INSERT INTO ZedaUser VALUES ('system', '" +
            password + "');");
  return "--server file:" + store.path() + " --port 0";
}

class OvixpatchTest : public ::testing::Test {
 protected:
  // Runs ovixpatch with a private home and root, after `prefix` in the same
  // shell command line.
  Outcome run(const std::string& args, const std::string& prefix = "",
              const std::string& globals = "") {
    bool piped = prefix.find('|') != std::string::npos;
    std::string cmd =
        prefix + std::string(OVIXPATCH_BINARY) +
        (globals.empty() ? " --home " + home_.path() + " --root " + home_.path() : globals) + " " +
        args + " 2>" + home_.file("err") + (piped ? "" : " </dev/null") + " >/dev/null";
    int status = std::system(("bash -c '" + cmd + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, home_.read("err")};
  }

  // The one package under the user folder, or "".
  std::string packageIn(const std::string& user) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(home_.file(user), ignored))
      if (entry.path().extension() == ".package") return entry.path().string();
    return "";
  }

  TempDir home_;
  TempDir tree_;
};

// Help ends with 0 and usage errors with 2 before any job runs; failed jobs
// end with 1 (FailuresSayWhy).
TEST_F(OvixpatchTest, ExitStatusTellsUsageErrorsAndAMissingHomeIsMade) {
  EXPECT_EQ(run("--help").status, 0);
  Outcome usage = run("pack");
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("--path"), std::string::npos);
  Outcome noRoot = run("checkupdate", "", " --root " + home_.file("no-root"));
  EXPECT_EQ(noRoot.status, 2);
  EXPECT_NE(noRoot.err.find("no-root"), std::string::npos) << noRoot.err;
  run("checkupdate", "", " --home " + home_.file("new/home") + " --root " + home_.path());
  EXPECT_TRUE(fs::is_directory(home_.file("new/home")));
}

TEST_F(OvixpatchTest, APackHoldsTheHeaderAndEveryRecordColumnByColumn) {
  tree_.write("ovixsetup.ini", kSetup);
  tree_.write("bin/a.dll", std::string("\0\1\2", 3));
  tree_.write("bin/中文.xml", "<x/>");
  tree_.write("notes.txt", "skipped by type");
  Outcome r = run("pack --path " + tree_.path() + " --user rel");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("打包完成，包版本信息："), std::string::npos);
  std::string package = packageIn("rel");
  ASSERT_FALSE(package.empty());

  EXPECT_EQ(query(package,
                  "SELECT substr(m_skey, 1, 3), length(m_skey), m_name, m_ver, m_type, m_ver_time, "
                  "m_kernal_time, length(m_pack_time), m_ref_tblname = m_skey, m_force, m_depend, "
                  "m_depend_guid, length(m_guid), m_proj_id, m_proj_guid FROM OVIXPackageInfo"),
            (Rows{{"D6A", "15", "OVIX_MORBIX", "V6", "DLL", "2026-12-03", "2026-01-02", "16", "1",
                   "1", "0", "<null>", "38", "<null>", "<null>"}}));
  Rows files = query(package,
                     "SELECT m_skey, m_crc, m_dbkey, m_guid, m_version, hex(m_stream) "
                     "FROM OVIXFileRecord ORDER BY rowid");
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0],
            (std::vector<std::string>{
                "bin\\a.dll", crc::crc32_file_str(*ovix::Env::Default(), tree_.file("bin/a.dll")),
                "<null>", "<null>", "0", "000102"}));
  EXPECT_EQ(files[1][0] + "|" + files[1][5], "bin\\中文.xml|3C782F3E");
  EXPECT_EQ(files[2][0], "ovixsetup.ini");
}

TEST_F(OvixpatchTest, AProjectPackTakesTheVersionAndProjectFromOptions) {
  tree_.write("projectSpec.zeda", "db");
  tree_.write("cfg.lua", "x");
  std::string info = home_.write("P1.ini", "[PatchProject]\nGUID={G1}\nNAME=P1\n");
  const std::string pack = "project --path " + tree_.path() + " --user u ";
  Outcome bad = run(pack + "--name OVIX_VEL --version V1 --date 9999-13-01");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("日期格式有错，要求为YYYY-MM-DD的格式"), std::string::npos);

  Outcome ok = run(pack + "--types \"\" --name OVIX_VEL --version V1 --info " + info);
  ASSERT_EQ(ok.status, 0) << ok.err;
  std::string package = packageIn("u");
  EXPECT_EQ(
      query(package, "SELECT m_type, m_ver_time, m_proj_guid, m_proj_id FROM OVIXPackageInfo"),
      (Rows{{"CONFIG", "", "{G1}", "P1"}}));
  EXPECT_EQ(query(package, "SELECT m_skey, m_dbkey FROM OVIXFileRecord ORDER BY rowid"),
            (Rows{{"cfg.lua", "<null>"}, {"projectSpec.zeda", "projectSpec.zeda"}}));
}

TEST_F(OvixpatchTest, AFullDiskFailsThePackAndLeavesNothing) {
  tree_.write("ovixsetup.ini", kSetup);
  std::string big(3 << 20, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 % 251);
  tree_.write("big.dll", big);
  // Files may grow to 1 MiB only: the package cannot be completed.
  Outcome r =
      run("pack --path " + tree_.path() + " --user full", "ulimit -f 1024; trap \"\" XFSZ; ");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("写入补丁包失败"), std::string::npos) << r.err;
  std::error_code ignored;
  EXPECT_TRUE(fs::directory_iterator(home_.file("full"), ignored) == fs::directory_iterator());
}

TEST_F(OvixpatchTest, APackUploadsToTheEmbeddedStoreWithThePasswordFromStdin) {
  tree_.write("ovixsetup.ini", kSetup);
  tree_.write("bin/a.dll", "abc");
  ASSERT_EQ(run("pack --path " + tree_.path() + " --user rel").status, 0);
  ASSERT_EQ(std::rename(packageIn("rel").c_str(), home_.file("p.package").c_str()), 0);

  // Longer than any fixed line buffer, shorter than the 4 KiB limit.
  const std::string password = "Pa55 word" + std::string(3000, 'x');
  TempDir store;
  const std::string upload = "upload " + embeddedStore(store, password);

  Outcome none = run(upload);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("OVIX_ADMIN_PASSWORD"), std::string::npos);

  Outcome wrong = run(upload + " --password-stdin", "echo wrong | ");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("用户名和密码不对"), std::string::npos);

  Outcome tooLong = run(upload + " --password-stdin", "head -c 4097 /dev/zero | tr \"\\\\0\" x | ");
  EXPECT_EQ(tooLong.status, 1);
  EXPECT_NE(tooLong.err.find("longer than 4096 bytes"), std::string::npos) << tooLong.err;

  Outcome ok = run(upload + " --password-stdin", "printf \"" + password + "\\r\\n\" | ");
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.err.find("上传完成"), std::string::npos);
  EXPECT_EQ(ok.err.find("Pa55"), std::string::npos);  // the password is never shown
  EXPECT_EQ(
      query(store.file("ovixinstallpatch.sqlite"), "SELECT m_name, m_ver FROM OVIXPackageInfo"),
      (Rows{{"OVIX_MORBIX", "V6"}}));

  Outcome again = run(upload, "OVIX_ADMIN_PASSWORD=\"" + password + "\" ");
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.err.find("该补丁已经上传过服务器，无法再传"), std::string::npos);
}

TEST_F(OvixpatchTest, APipelineUploadsThePackageThatPackPrinted) {
  tree_.write("ovixsetup.ini", kSetup);
  tree_.write("bin/a.dll", "abc");
  TempDir store;
  std::string server = embeddedStore(store, "pw");
  // The package stays in the user folder: without --package the upload
  // would find none in the working folder.
  std::string pack = std::string(OVIXPATCH_BINARY) + " --home " + home_.path() + " --root " +
                     home_.path() + " pack --path " + tree_.path() + " --user rel 2>/dev/null";
  Outcome ok =
      run("upload --package \"$f\" " + server, "f=$(" + pack + ") && OVIX_ADMIN_PASSWORD=pw ");
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(query(store.file("ovixinstallpatch.sqlite"), "SELECT m_name FROM OVIXPackageInfo"),
            (Rows{{"OVIX_MORBIX"}}));

  tree_.write("ovixsetup.ini", "[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V6\nBUILDTIME=2999-01-01\n");
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
TEST_F(OvixpatchTest, FailuresSayWhy) {
  std::string noKeys = home_.write("nokeys.ini", "[PatchProject]\nNAME=P1\n");
  tree_.write("cfg.lua", "x");
  const std::string cannotConnect = "无法连接ovixgeneral数据库，mysql服务器为：";
  const std::string project = "project --path " + tree_.path() + " --name OVIX_VEL --version V1 ";
  const std::string unreachable = "upload --server file:" + tree_.file("none") + " --port 1";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"download --install \"\" --server h --port 1", "--install names no directory"},
      {"download --install " + tree_.file("none") + " --server h --port 1", "does not exist"},
      {"download --install " + tree_.path() + " --server h --port 1", "holds no ovixsetup.ini"},
      {"checkupdate", "无法访问更新服务器"},
      {"info --server file:/nonexistent --port 1 --project P", "未成功查询到项目信息：P"},
      {"project --path " + tree_.path(), "needs --name NAME and --version VER"},
      {"pack --path " + tree_.path(), "needs --name NAME and --version VER"},
      {project + "--info " + tree_.file("x.ini"), "cannot be read"},
      {project + "--info " + noKeys, "has no GUID and NAME"},
      {unreachable, cannotConnect},
  };
  Outcome r;
  for (const auto& [args, expected] : cases) {
    r = run(args, "OVIX_ADMIN_PASSWORD=pw ");
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find(expected), std::string::npos) << args << ": " << r.err;
  }
  // The reason stands between the system's message and the verdict.
  size_t reason = r.err.find('\n', r.err.find(cannotConnect)) + 1;
  size_t verdict = r.err.find("用户名和密码不对");
  ASSERT_NE(verdict, std::string::npos) << r.err;
  EXPECT_GT(verdict, reason + 1) << r.err;
  EXPECT_NE(home_.read("ovixpatch.logfile").find(r.err.substr(reason, verdict - reason - 1)),
            std::string::npos)
      << "the command log keeps the reason";
}

}  // namespace
