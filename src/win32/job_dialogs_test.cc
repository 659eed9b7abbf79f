// The dialogs of the jobs, driven headlessly against an embedded store.
// Each shows its remembered or default fields, hands the typed texts to the
// core's job, stays open with them after a refusal and closes on success.

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "jobs/download.h"
#include "jobs/pack_job.h"
#include "jobs/server_commit.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "win32/combo_box.h"
#include "win32/local_package_dialog.h"
#include "win32/package_select_dialog.h"
#include "win32/project_info_dialog.h"
#include "win32/resource_ids.h"
#include "win32/server_commit_dialog.h"
#include "win32/test_support.h"
#include "win32/update_patch_dialog.h"

namespace ovix::win32 {
namespace {

using ovix::testing::TempDir;
using testing::isOpen;
using testing::open;
using testing::press;
using testing::textOf;
using testing::type;

// A server directory, not ASCII, whose general database holds the
// administrator "system"/"Secret1" and three projects, not in alphabetical
// order; the server's address.
std::string prepareServer(const TempDir& dir) {
  std::string server = dir.mkdir("服务器");
  ovix::testing::query(server + "/ovixgeneral.sqlite",
                       "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);"
                       "INSERT INTO ZedaProject VALUES ('南京化工','{GUID-NJ}','A');"
                       "INSERT INTO ZedaProject VALUES ('Alpha','{GUID-ALPHA}','B');"
                       "INSERT INTO ZedaProject VALUES ('北京炼化','{GUID-BJ}','C');"
                       "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
                       "INSERT INTO ZedaUser VALUES ('system','Secret1');");
  return "file:" + server;
}

using JobDialogsTest = testing::DialogTest;

// A patch packed in the pack dialog goes up through the upload dialog and
// down through the download dialog.  The pack dialog offers the user
// folders, the box sorted and the first chosen (its default file types are
// checked by PackModalTest).  The upload dialog hands over its kind, so a
// project package is missing at first.  What a download changes is the
// core's.
TEST_F(JobDialogsTest, APatchGoesFromThePackDialogUpAndDownIntoAnInstallation) {
  TempDir dir;
  const std::string address = prepareServer(dir);
  testing::useProgramDirectory(dir, "ovixpatch_upload.ini",
                               "[MySqlServer]\nIP=192.168.10.20\nPORT=3307\n");
  dir.write("program/ovixpatch_download.ini",
            "[MySqlServer]\nIP=192.168.10.20\nPORT=3306\nPATH=C:\\ovix\\安装\n");
  for (const char* user : {"zhang", "Wang", "发布"}) dir.mkdir(std::string("program/") + user);
  dir.write("tree/ovixsetup.ini", testing::kSetup);
  dir.write("tree/插件/core.dll", "new dll bytes");
  const std::string install = dir.mkdir("安装");
  dir.write("安装/ovixsetup.ini", testing::kSetup);
  dir.write("安装/插件/core.dll", "old");
  ovix::testing::ScopedRecorder recorder;

  COvixLocalPackage pack(Env::Default());
  open(pack);
  EXPECT_EQ(comboItems(GetDlgItem(pack.window(), IDC_PACK_USER)),
            (std::vector<std::string>{"Wang", "zhang", "发布"}));
  EXPECT_EQ(textOf(pack, IDC_PACK_USER), "Wang");
  type(pack, IDC_PACK_PATH, dir.file("tree"));
  type(pack, IDC_PACK_SUBDIR, "插件");
  type(pack, IDC_PACK_USER, "..");  // not one folder name
  press(pack, IDOK);
  ASSERT_TRUE(isOpen(pack));
  EXPECT_EQ(textOf(pack, IDC_PACK_SUBDIR), "插件");
  type(pack, IDC_PACK_USER, "发布");
  press(pack, IDOK);
  ASSERT_EQ(pack.result(), IDOK) << ::testing::PrintToString(recorder.messages);
  std::vector<std::string> packages = ovix::testing::namesIn(dir.file("program/发布"));
  ASSERT_EQ(packages.size(), 1u);
  // The upload takes the newest package in the program directory.
  ASSERT_TRUE(Env::Default()->renameFile(dir.file("program/发布/" + packages[0]),
                                         dir.file("program/" + packages[0])));
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
  ASSERT_TRUE(isOpen(upload));
  EXPECT_EQ(textOf(upload, IDC_SERVER), address);
  upload.setPackageKind("DLL");
  press(upload, IDOK);
  EXPECT_EQ(upload.result(), IDOK);

  const std::string noStore = "file:" + dir.mkdir("empty");
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
  type(download, IDC_DOWNLOAD_SERVER, address);
  press(download, IDOK);
  EXPECT_EQ(download.result(), IDOK);
  EXPECT_EQ(dir.read("安装/插件/core.dll"), "new dll bytes");
  DownloadFields after = loadRememberedDownload(*Env::Default());
  EXPECT_EQ(after.installPath + "|" + after.address + "|" + after.port,
            install + "|" + address + "|0");

  EXPECT_EQ(recorder.messages,
            std::vector<std::string>(
                {"当前程序运行目录下，未找到类型为CONFIG的package", "上传完成",
                 "版本补丁数据库不存在:" + noStore + ",0,ovixinstallpatch", "下载补丁完成"}));
}

// The list of projects is filled from the remembered server, refilled when
// the address or port edit loses the focus, and keeps the typed name; OK
// writes the information file of the typed project.
TEST_F(JobDialogsTest, ProjectInfoDialogListsTheServersProjectsAndWritesTheTypedOne) {
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
  type(dlg, IDC_PROJECT_SERVER, "file:" + dir.mkdir("空"));
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

  type(dlg, IDC_PROJECT_NAME, "北京炼化");
  press(dlg, IDOK);
  EXPECT_EQ(dlg.result(), IDOK);
  EXPECT_NE(dir.read("program/北京炼化.ini").find("GUID={GUID-BJ}"), std::string::npos);
}

// The dates the core accepts reach it through the pack job's dialogs below.
TEST_F(JobDialogsTest, VersionDialogStaysOpenOnADateTheCoreRefuses) {
  ovix::testing::ScopedRecorder recorder;
  COvixPackageSelectDlg dlg;
  open(dlg);
  type(dlg, IDC_VERSION_DATE, "9999-13-01");
  press(dlg, IDOK);
  EXPECT_TRUE(isOpen(dlg));
  EXPECT_EQ(recorder.messages, std::vector<std::string>{"日期格式有错，要求为YYYY-MM-DD的格式"});
}

// Answers the dialogs that the pack job opens over the pack dialog as they
// appear, from a thread timer that their modal loops run, typing `typed`
// (password, date, file name; null: Cancel), and notes each in `shown`.  A
// dialog still open a while after its answer is cancelled, so that a fault
// cannot hang the test.
struct ModalUser {
  const char* typed[3];
  std::string shown;             // the dialogs' names, "password|version|file", as they came
  std::map<HWND, int> answered;  // ticks since the answer
  static inline ModalUser* current = nullptr;

  static void post(HWND dlg, int id) { PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  void answer(HWND dlg) {
    if (answered.contains(dlg)) {
      if (++answered[dlg] == 40) post(dlg, IDCANCEL);
      return;
    }
    answered[dlg] = 0;
    // The dialog is known by its field; the last, the file-open dialog's
    // file name box (cmb13 of <dlgs.h>).
    const int field[] = {IDC_PASSWORD_TEXT, IDC_VERSION_DATE, 0x47c};
    const char* const name[] = {"password", "version", "file", "other"};
    int kind = 0;
    while (kind < 3 && GetDlgItem(dlg, field[kind]) == nullptr) ++kind;
    shown += std::string(shown.empty() ? "" : "|") + name[kind];
    if (kind < 3 && typed[kind] != nullptr) setItemText(dlg, field[kind], typed[kind]);
    post(dlg, kind < 3 && typed[kind] != nullptr ? IDOK : IDCANCEL);
  }
  static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM) -> BOOL {
      wchar_t name[8] = L"";
      GetClassNameW(window, name, 8);
      if (IsWindowVisible(window) && std::wstring(name) == L"#32770") current->answer(window);
      return TRUE;
    }, 0);
  }
};

// A minisign secret key (cheap key derivation) whose password is "pw".
constexpr char kEncryptedKey[] =
    "untrusted comment: minisign encrypted secret key\nRWRTY0Iyg4OuvWWmRGGjp0xp6C6fFo0Ur30QIj/1G4F4"
    "DkVllQ0AgAAAAAAAAAAAAAEAAAAAtVWNWRLyRf6YG75v3RSYy4MMOHryDmzsil9/9fIrSmanwaE0CZf2wPcU+rclxqZ2k"
    "XCt+EnMtNuWgSl3v/3yJeWCkbe7yZLEyaiVBPnZGB5DrV6tTy19KmhCLanqB55MAmZGEstzkd8=\n";

struct ModalCase {
  const char *what, *kind;
  bool withSetup, withKey;  // a complete ovixsetup.ini; settings naming the key above
  const char *password, *date, *infoFile, *shown;  // typed and shown, as ModalUser has them
  const char* header;   // name|version|date|project|GUID|signed of the package; null: none
  const char* message;  // the first message begins so; "": none
};

class PackModalTest : public testing::DialogTest,
                      public ::testing::WithParamInterface<ModalCase> {};

TEST_P(PackModalTest, DialogsOpenedByThePackJobHandTheirAnswersToIt) {
  const ModalCase& c = GetParam();
  SCOPED_TRACE(c.what);
  TempDir dir;
  testing::useProgramDirectory(dir);
  dir.mkdir("program/u");
  if (c.withSetup) dir.write("tree/ovixsetup.ini", testing::kSetup);
  dir.write("tree/a.lua", "print(1)");
  std::string info = dir.write("program/info.ini", "[PatchProject]\nGUID={G1}\nNAME=南京化工\n");
  std::replace(info.begin(), info.end(), '/', '\\');  // the file dialog takes no '/'
  if (c.withKey) dir.write("program/e.key", kEncryptedKey);
  if (c.withKey) dir.write("program/ovixpatch_pack.ini", "[Signing]\nKEY=e.key\n");
  ovix::testing::ScopedRecorder recorder;
  COvixLocalPackage dlg(Env::Default());
  dlg.m_kind = c.kind;
  open(dlg);
  EXPECT_EQ(textOf(dlg, IDC_PACK_TYPES), defaultFileTypes(c.kind));
  type(dlg, IDC_PACK_PATH, dir.file("tree"));
  type(dlg, IDC_PACK_USER, "u");
  ModalUser user{{c.password, c.date, c.infoFile != nullptr ? info.c_str() : nullptr}, "", {}};
  ModalUser::current = &user;
  UINT_PTR timer = SetTimer(nullptr, 0, 50, &ModalUser::tick);
  press(dlg, IDOK);
  KillTimer(nullptr, timer);
  EXPECT_EQ(user.shown, c.shown);
  std::string first = recorder.messages.empty() ? "" : recorder.messages[0];
  EXPECT_TRUE(*c.message != '\0' ? first.starts_with(c.message) : first.empty()) << first;
  std::vector<std::string> packages = ovix::testing::namesIn(dir.file("program/u"));
  EXPECT_EQ(isOpen(dlg), c.header == nullptr);
  ASSERT_EQ(packages.size(), c.header == nullptr ? 0u : 1u);
  if (c.header == nullptr) return;
  EXPECT_EQ(ovix::testing::query(dir.file("program/u/" + packages[0]),
                                 "SELECT m_name||'|'||m_ver||'|'||m_ver_time||'|'||"
                                 "ifnull(m_proj_id,'')||'|'||ifnull(m_proj_guid,'')||'|'||"
                                 "(SELECT count(*) FROM sqlite_master WHERE "
                                 "name='OVIXPackageSignature') FROM OVIXPackageInfo"),
            ovix::testing::Rows{{c.header}});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PackModalTest,
    ::testing::Values(
        ModalCase{"info chosen", "CONFIG", false, false, nullptr, "2024年05月06日 13:45", "",
                  "version|file", "OVIX_TARNO|V3|2024-05-06-13-45|南京化工|{G1}|0", "打包完成"},
        ModalCase{"info cancelled", "CONFIG", false, false, nullptr, "", nullptr, "version|file",
                  "OVIX_TARNO|V3||||0", "打包完成"},
        ModalCase{"version cancelled", "DLL", false, false, nullptr, nullptr, nullptr, "version",
                  nullptr, "安装路径下无ovixsetup.ini文件"},
        ModalCase{"password right", "DLL", true, true, "pw", nullptr, nullptr, "password",
                  "OVIX_TARNO|V3|2020-01-01|||1", "打包完成"},
        ModalCase{"password cancelled", "DLL", true, true, nullptr, nullptr, nullptr,
                  "password", nullptr, ""}));

}  // namespace
}  // namespace ovix::win32
