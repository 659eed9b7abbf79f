// The dialogs that talk to a version server, driven headlessly against an
// embedded store: a package packed in the pack dialog goes up through the
// upload dialog and down into an installation through the download dialog.
// Each dialog shows the remembered server, hands the typed texts to the
// core, stays open with its texts after a refusal and closes on success.

#include <filesystem>
#include <string>
#include <vector>

#include "jobs/download.h"
#include "jobs/server_commit.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "win32/combo_box.h"
#include "win32/local_package_dialog.h"
#include "win32/project_info_dialog.h"
#include "win32/resource_ids.h"
#include "win32/server_commit_dialog.h"
#include "win32/test_support.h"
#include "win32/update_patch_dialog.h"

namespace ovix::win32 {
namespace {

namespace fs = std::filesystem;
using ovix::testing::query;
using ovix::testing::TempDir;
using testing::filesEndingIn;
using testing::isOpen;
using testing::makeDir;
using testing::readFile;
using testing::writeFile;
using testing::open;
using testing::press;
using testing::textOf;
using testing::type;

// A server directory, not ASCII, whose general database holds the
// administrator "system"/"Secret1" and three projects, not in alphabetical
// order; the server's address.
std::string prepareServer(const TempDir& dir) {
  std::string server = makeDir(dir, "服务器");
  query(server + "/ovixgeneral.sqlite",
        "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);"
        "INSERT INTO ZedaProject VALUES ('南京化工','{GUID-NJ}','A');"
        "INSERT INTO ZedaProject VALUES ('Alpha','{GUID-ALPHA}','B');"
        "INSERT INTO ZedaProject VALUES ('北京炼化','{GUID-BJ}','C');"
        "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
        "INSERT INTO ZedaUser VALUES ('system','Secret1');");
  return "file:" + server;
}

using ServerDialogsTest = testing::DialogTest;

TEST_F(ServerDialogsTest, APatchGoesFromThePackDialogUpAndDownIntoAnInstallation) {
  TempDir dir;
  const std::string address = prepareServer(dir);
  const std::string program = testing::useProgramDirectory(
      dir, "ovixpatch_upload.ini", "[MySqlServer]\nIP=192.168.10.20\nPORT=3307\n");
  writeFile(dir, "program/ovixpatch_download.ini",
            "[MySqlServer]\nIP=192.168.10.20\nPORT=3306\nPATH=C:\\ovix\\安装\n");
  writeFile(dir, "tree/ovixsetup.ini", testing::kSetup);
  writeFile(dir, "tree/bin/core.dll", "new dll bytes");
  const std::string install = makeDir(dir, "安装");
  writeFile(dir, "安装/ovixsetup.ini", testing::kSetup);
  writeFile(dir, "安装/bin/core.dll", "old");
  ovix::testing::ScopedRecorder recorder;

  COvixLocalPackage pack(Env::Default());
  open(pack);
  type(pack, IDC_PACK_PATH, dir.file("tree"));
  type(pack, IDC_PACK_TYPES, "DLL");
  type(pack, IDC_PACK_USER, "发布");
  press(pack, IDOK);
  ASSERT_EQ(pack.result(), IDOK) << ::testing::PrintToString(recorder.messages);
  std::vector<std::string> packages = filesEndingIn(dir.file("program/发布"), ".package");
  ASSERT_EQ(packages.size(), 1u);
  // The upload takes the newest package in the program directory.
  fs::rename(fs::u8path(packages[0]), fs::u8path(program) / fs::u8path(packages[0]).filename());
  recorder.messages.clear();

  COvixServerCommitDlg upload(Env::Default());
  upload.setPackageKind("CONFIG");
  open(upload);
  EXPECT_EQ(textOf(upload, IDC_SERVER) + "|" + textOf(upload, IDC_PORT) + "|" +
                textOf(upload, IDC_PASSWORD),
            "192.168.10.20|3307|");
  type(upload, IDC_SERVER, address);
  type(upload, IDC_PORT, "0");
  type(upload, IDC_PASSWORD, "Secret1");
  press(upload, IDOK);  // no project package here
  upload.setPackageKind("DLL");
  type(upload, IDC_PASSWORD, "secret1");
  press(upload, IDOK);  // the password is compared exactly
  ASSERT_TRUE(isOpen(upload));
  EXPECT_EQ(textOf(upload, IDC_SERVER), address);
  type(upload, IDC_PASSWORD, "Secret1");
  press(upload, IDOK);
  EXPECT_EQ(upload.result(), IDOK);
  ServerAddress server = loadRememberedServer(*Env::Default());
  EXPECT_EQ(server.address + "|" + server.port, address + "|0");

  const std::string noStore = "file:" + makeDir(dir, "empty");
  COvixUpdatePatchDlg download(Env::Default());
  open(download);
  EXPECT_EQ(textOf(download, IDC_INSTALL_PATH) + "|" + textOf(download, IDC_DOWNLOAD_SERVER) +
                "|" + textOf(download, IDC_DOWNLOAD_PORT),
            "C:\\ovix\\安装|192.168.10.20|3306");
  type(download, IDC_INSTALL_PATH, install);
  type(download, IDC_DOWNLOAD_SERVER, noStore);
  type(download, IDC_DOWNLOAD_PORT, "0");
  press(download, IDOK);
  ASSERT_TRUE(isOpen(download));
  EXPECT_EQ(loadRememberedDownload(*Env::Default()).port, "3306");
  EXPECT_EQ(readFile(dir, "安装/bin/core.dll"), "old");
  type(download, IDC_DOWNLOAD_SERVER, address);
  press(download, IDOK);
  EXPECT_EQ(download.result(), IDOK);
  EXPECT_EQ(readFile(dir, "安装/bin/core.dll"), "new dll bytes");
  DownloadFields after = loadRememberedDownload(*Env::Default());
  EXPECT_EQ(after.installPath + "|" + after.address + "|" + after.port,
            install + "|" + address + "|0");

  EXPECT_EQ(recorder.messages,
            std::vector<std::string>(
                {"当前程序运行目录下，未找到类型为CONFIG的package", "用户名和密码不对", "上传完成",
                 "版本补丁数据库不存在:" + noStore + ",0,ovixinstallpatch", "下载补丁完成"}));
}

// The list of projects is filled from the remembered server, refilled when
// the address or port edit loses the focus, and keeps the typed name; OK
// writes the information file of the typed project only when the server
// knows it.
TEST_F(ServerDialogsTest, ProjectInfoDialogListsTheServersProjectsAndWritesTheTypedOne) {
  TempDir dir;
  const std::string address = prepareServer(dir);
  testing::useProgramDirectory(dir, "ovixpatch_upload.ini",
                               "[MySqlServer]\nIP=" + address + "\nPORT=0\n");
  ovix::testing::ScopedRecorder recorder;
  COvixProjectInfo dlg(Env::Default());
  open(dlg);
  HWND combo = GetDlgItem(dlg.window(), IDC_PROJECT_NAME);
  const std::vector<std::string> projects{"南京化工", "Alpha", "北京炼化"};
  EXPECT_EQ(comboItems(combo), projects);
  EXPECT_EQ(textOf(dlg, IDC_PROJECT_NAME), "");

  auto leave = [&](int id) {
    SendMessageW(dlg.window(), WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg.window(), id)));
  };
  type(dlg, IDC_PROJECT_NAME, "新项目");
  type(dlg, IDC_PROJECT_SERVER, "file:" + makeDir(dir, "空"));
  leave(IDC_PROJECT_SERVER);
  EXPECT_EQ(comboItems(combo), std::vector<std::string>{});
  EXPECT_EQ(textOf(dlg, IDC_PROJECT_NAME), "新项目");
  type(dlg, IDC_PROJECT_SERVER, address);
  leave(IDC_PROJECT_PORT);
  EXPECT_EQ(comboItems(combo), projects);
  EXPECT_EQ(textOf(dlg, IDC_PROJECT_NAME), "新项目");

  press(dlg, IDOK);
  ASSERT_TRUE(isOpen(dlg));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"未成功查询到项目信息：新项目"});
  EXPECT_EQ(filesEndingIn(dir.file("program"), ".ini").size(), 1u);  // the settings only

  type(dlg, IDC_PROJECT_NAME, "北京炼化");
  press(dlg, IDOK);
  EXPECT_EQ(dlg.result(), IDOK);
  EXPECT_NE(readFile(dir, "program/北京炼化.ini").find("GUID={GUID-BJ}"), std::string::npos);
}

}  // namespace
}  // namespace ovix::win32
