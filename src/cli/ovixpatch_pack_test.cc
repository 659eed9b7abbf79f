// ovixpatch run as a user runs it: its exit statuses, what it says on
// failure, and the packages it leaves, read back with the sqlite3 C API;
// and what of its options and terminal that a run cannot show.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_presenter.h"
#include "platform/env.h"
#include "testing/package_builder.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::TempDir;
using ovix::testing::query;
using ovix::testing::Rows;

struct Outcome {
  int status = -1;
  std::string out;  // without its last line end
  std::string err;
};

constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V6\nKERNELTIME=2026-01-02\nBUILDTIME=2026-12-03\n";

class OvixpatchTest : public ::testing::Test {
 protected:
  // Runs ovixpatch (OVIX_TEST_OVIXPATCH, a prefix such as "wine-run.sh
  // .../ovixpatch.exe", else the program built here) with a private home
  // and root, or with `globals`, after `prefix` in one shell command line.
  Outcome run(const std::string& args, const std::string& prefix = "",
              const std::string& globals = "") {
    const char* program = std::getenv("OVIX_TEST_OVIXPATCH");
    bool piped = prefix.find('|') != std::string::npos;
    std::string cmd =
        prefix + (program != nullptr && *program != '\0' ? program : OVIXPATCH_BINARY) +
        (globals.empty() ? " --home " + home_.path() + " --root " + home_.path() : globals) + " " +
        args + " 2>" + home_.file("err") + (piped ? "" : " </dev/null") + " >" + home_.file("out");
    int status = std::system(("bash -c '" + cmd + "'").c_str());
    Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, home_.read("out"),
                    home_.read("err")};
    if (outcome.out.ends_with('\n')) outcome.out.pop_back();
    return outcome;
  }

  // The server options of a store in `store` whose administrator has `password`.
  static std::string serverOf(const TempDir& store, const std::string& password) {
    query(store.file("ovixgeneral.sqlite"), "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
                                            "INSERT INTO ZedaUser VALUES ('system', '" + password + "');");
    return " --server file:" + store.path() + " --port 0";
  }

  TempDir home_;
  TempDir tree_;
};

// Every command reaches its job, the project pack with the version and the
// target project of its options, and every failure says on standard error
// what happened: usage errors end with 2 before any job runs, failed jobs
// with 1.  A full disk fails the pack and leaves nothing; a server that
// cannot be reached is followed by the reason on the next line.
TEST_F(OvixpatchTest, EachCommandReachesItsJobAndFailuresSayWhy) {
  TempDir bigTree;
  bigTree.write("ovixsetup.ini", kSetup);
  std::string big(3 << 20, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 % 251);
  bigTree.write("big.dll", big);
  std::string noKeys = home_.write("nokeys.ini", "[PatchProject]\nNAME=P1\n");
  std::string info = home_.write("P1.ini", "[PatchProject]\nGUID={G1}\nNAME=P1\n");
  tree_.write("cfg.lua", "x");
  const std::string cannotConnect = "无法连接ovixgeneral数据库，mysql服务器为：";
  const std::string project = "project --path " + tree_.path() + " --name OVIX_VEL --version V1 ";
  const std::string newHome = " --home " + home_.file("new/home") + " --root " + home_.path();
  struct Case {
    std::string args;
    int status;
    std::string said;
    std::string globals = "", prefix = "";
  };
  const std::vector<Case> cases = {
      {"--help", 0, "upproject"},
      {"--version", 0, "ovixpatch "},
      {"", 2, "A subcommand is required"},
      {"pack", 2, "--path is required"},
      {"info --server h --port 1", 2, "--project NAME or --list is required"},
      {"--yes --no checkupdate", 2, "--yes excludes --no"},
      {"pack --path /x --bogus", 2, "--bogus"},
      {"pack --path /x upload", 2, "upload"},  // two commands
      {"pack --path /x --info f.ini", 2, "--info"},  // project only
      {"download --install /i --server h --port 1 --password-stdin", 2, "--password-stdin"},
      {"pack --path /x --date 2026-12-04", 2, "--date requires --name"},
      {"checkupdate", 2, "no-root", " --root " + home_.file("no-root")},
      {"checkupdate", 1, "无法访问更新服务器", newHome},  // the missing home is made
      {"download --install \"\" --server h --port 1", 1, "--install names no directory"},
      {"download --install " + tree_.file("none") + " --server h --port 1", 1, "does not exist"},
      {"download --install " + tree_.path() + " --server h --port 1", 1, "holds no ovixsetup.ini"},
      {"info --server file:/nonexistent --port 1 --project P", 1, "未成功查询到项目信息：P"},
      {"info --server file:/nonexistent --port 1 --list", 1, "查询服务器上的项目库列表失败"},
      {"upproject --server h --port \"\"", 1, "no server address or port given"},
      {"pack --path " + tree_.path() + " --name OVIX_VEL", 1,
       "needs --name NAME and --version VER"},
      {project + "--date 9999-13-01", 1, "日期格式有错，要求为YYYY-MM-DD的格式"},
      {project + "--info " + tree_.file("x.ini"), 1, "cannot be read"},
      {project + "--info " + noKeys, 1, "has no GUID and NAME"},
      {project + "--info " + info, 0, "版本名称：V1\n\t项目名称：P1\n\t项目GUID：{G1}"},
      // Files may grow to 1 MiB only: the package cannot be completed.
      {"pack --path " + bigTree.path() + " --user full", 1, "写入补丁包失败", "",
       "ulimit -f 1024; trap \"\" XFSZ; "},
      {"upload --server file:" + tree_.file("none") + " --port 1", 1, cannotConnect},
  };
  Outcome r;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    r = run(c.args, c.prefix + "OVIX_ADMIN_PASSWORD=pw ", c.globals);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.err;
  }
  EXPECT_TRUE(fs::is_directory(home_.file("new/home")));
  std::error_code ignored;
  EXPECT_TRUE(fs::directory_iterator(home_.file("full"), ignored) == fs::directory_iterator());
  // The reason stands between the system's message and the verdict.
  size_t reason = r.err.find('\n', r.err.find(cannotConnect)) + 1;
  size_t verdict = r.err.find("用户名和密码不对");
  ASSERT_NE(verdict, std::string::npos) << r.err;
  EXPECT_GT(verdict, reason + 1) << r.err;
  EXPECT_NE(home_.read("ovixpatch.logfile").find(r.err.substr(reason, verdict - reason - 1)),
            std::string::npos)
      << "the command log keeps the reason";
}

// pack prints the path of its package, which upload --package takes; the
// password comes from the environment or standard input and is never shown.
TEST_F(OvixpatchTest, APackedPackageIsUploadedOnlyWithTheRightPassword) {
  tree_.write("ovixsetup.ini", kSetup);
  tree_.write("bin/a.dll", std::string("\0\1\2", 3));
  tree_.write("bin/中文.xml", "<x/>");
  tree_.write("notes.txt", "skipped by type");
  Outcome packed = run("pack --path " + tree_.path() + " --user rel");
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(fs::path(packed.out).parent_path(), fs::path(home_.file("rel")));
  EXPECT_EQ(query(packed.out, "SELECT m_skey, hex(substr(m_stream, 1, 3)) FROM OVIXFileRecord"),
            (Rows{{"bin\\a.dll", "000102"}, {"bin\\中文.xml", "3C782F"}, {"ovixsetup.ini", "5B4F56"}}));

  // Longer than any fixed line buffer, shorter than the 4 KiB limit.
  const std::string password = "Pa55 word" + std::string(3000, 'x');
  TempDir store;
  const std::string server = serverOf(store, password);
  const std::string upload = "upload --package " + packed.out + server;
  const std::string admin = "OVIX_ADMIN_PASSWORD=\"" + password + "\" ";
  home_.write("inst/ovixsetup.ini", "[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V6\nBUILDTIME=2999-01-01\n");
  const struct {
    const char* name;
    std::string prefix, args;
    int status;
    std::string said;
  } cases[] = {
      {"no password", "", upload, 1, "OVIX_ADMIN_PASSWORD"},
      {"wrong password", "echo wrong | ", upload + " --password-stdin", 1, "用户名和密码不对"},
      {"password too long", "head -c 4097 /dev/zero | tr \"\\\\0\" x | ",
       upload + " --password-stdin", 1, "longer than 4096 bytes"},
      {"right password", "printf \"" + password + "\\r\\n\" | ", upload + " --password-stdin", 0,
       "上传完成"},
      {"uploaded before", admin, upload, 0, "该补丁已经上传过服务器，无法再传"},
      {"not a project package", admin, "upproject --package " + packed.out + server, 1,
       "is not a package file of type CONFIG"},
      {"nothing newer", "", "download --install " + home_.file("inst") + server, 1,
       "版本数据库中没有比之更新的补丁"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome r = run(c.args, c.prefix);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Pa55"), std::string::npos) << "the password is never shown";
  }
  EXPECT_EQ(query(store.file("ovixinstallpatch.sqlite"), "SELECT m_name, m_ver FROM OVIXPackageInfo"),
            (Rows{{"OVIX_MORBIX", "V6"}}));
}

// The README's road of a signed patch: a key of minisign -G, a signed pack
// that minisign verifies, the upload, the key trusted by the installation,
// the download (keys with a password are pack_job_test's, minisign's own
// signatures minisign_test's).  A package changed after signing is named; signed
// again, it verifies.
TEST_F(OvixpatchTest, ASignedPatchTravelsTheReadmeRoadWithMinisignBothWays) {
  if (std::system("command -v minisign >/dev/null 2>&1") != 0) GTEST_SKIP() << "no minisign";
  const std::string pub = home_.file("k.pub"), key = home_.file("k.key");
  auto shell = [](const std::string& command) {
    return std::system(("bash -c '" + command + "' >/dev/null 2>&1").c_str());
  };
  ASSERT_EQ(shell("minisign -G -W -p " + pub + " -s " + key), 0);
  tree_.write("ovixsetup.ini", kSetup);
  tree_.write("bin/a.dll", "abc");
  Outcome packed = run("pack --path " + tree_.path() + " --user s --sign " + key +
                       " --sign-password-stdin", "echo pw | ");
  ASSERT_EQ(packed.status, 0) << packed.err;
  const std::string package = packed.out, manifest = package + ".manifest";
  const std::string verify = "verify " + package + " --key " + pub;
  EXPECT_EQ(run(verify).status, 0);
  ASSERT_EQ(run("manifest " + package).status, 0);
  EXPECT_EQ(shell("minisign -Vm " + manifest + " -p " + pub), 0);

  TempDir store;
  const std::string server = serverOf(store, "pw");
  Outcome uploaded = run("upload --package " + package + server, "OVIX_ADMIN_PASSWORD=pw ");
  ASSERT_EQ(uploaded.status, 0) << uploaded.err;
  home_.write("inst/ovixsetup.ini", "[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V6\nBUILDTIME=2020-01-01\n");
  home_.write("inst/sys/trusted-keys/supplier.pub", home_.read("k.pub"));
  Outcome downloaded = run("download --install " + home_.file("inst") + server);
  ASSERT_EQ(downloaded.status, 0) << downloaded.err;
  EXPECT_EQ(home_.read("inst/bin/a.dll"), "abc");

  query(package, "update OVIXFileRecord set m_stream=cast('abd' as blob)");
  Outcome refused = run(verify);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("的数据与签名时不同"), std::string::npos) << refused.err;
  EXPECT_EQ(run("verify " + home_.file("none.package") + " --key " + pub).status, 1);
  // Signed again as it now is, it verifies again.
  ASSERT_EQ(run("sign " + package + " --key " + key).status, 0);
  EXPECT_EQ(run(verify).status, 0);
}

// --yes and --no answer every question, saying so; a log is printed with
// the line ends of this system.
TEST(TerminalPresenterTest, TheOptionsAnswerQuestionsAndALogIsPrintedWithItsLines) {
  TempDir dir;
  std::string path = dir.write("autoPatchLog.txt", "first\t[t]\r\nsecond\t[t]\n");
  std::FILE* out = std::fopen(dir.file("shown").c_str(), "w");
  ASSERT_NE(out, nullptr);
  for (const std::string flag : {"--yes", "--no"}) {
    ovix::cli::CliOptions options;
    ASSERT_TRUE(ovix::cli::parseCommandLine({"--home", "/h", flag, "checkupdate"}, &options).runJob);
    ovix::cli::TerminalPresenter terminal(options.answer, nullptr, out, out);
    EXPECT_EQ(terminal.askYesNo("go?"), flag == "--yes");
  }
  ovix::cli::TerminalPresenter(ovix::cli::Answer::kNo, nullptr, out, out)
      .openLog(*ovix::Env::Default(), path);
  std::fclose(out);
  EXPECT_EQ(dir.read("shown"), "go? yes\ngo? no\nfirst\t[t]\nsecond\t[t]\n");
}

}  // namespace
