// The pack dialog and the dialogs its job opens, driven headlessly: the pack
// dialog offers the user folders and the kind's file types and hands every
// typed field to the job; the version dialog closes only on a date the core
// accepts; the password, version and file dialogs hand their answers to it.

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "jobs/pack_job.h"
#include "packing/version_input.h"
#include "platform/utf16_windows.h"
#include "testing/package_builder.h"
#include "testing/recording_presenter.h"
#include "win32/combo_box.h"
#include "win32/local_package_dialog.h"
#include "win32/package_select_dialog.h"
#include "win32/resource_ids.h"
#include "win32/test_support.h"

namespace ovix::win32 {
namespace {

using ovix::testing::TempDir;
using testing::isOpen;
using testing::makeDir;
using testing::readFile;
using testing::writeFile;
using testing::open;
using testing::press;
using testing::textOf;
using testing::type;

using PackDialogsTest = testing::DialogTest;

TEST_F(PackDialogsTest, PackDialogOffersTheUserFoldersAndTheKindsFileTypes) {
  TempDir dir;
  testing::useProgramDirectory(dir);
  for (const char* user : {"zhang", "Wang", "李"}) makeDir(dir, std::string("program/") + user);
  ovix::testing::ScopedRecorder recorder;
  for (const char* kind : {"DLL", "CONFIG"}) {
    COvixLocalPackage dlg(Env::Default());
    dlg.m_kind = kind;
    open(dlg);
    std::vector<std::string> users = comboItems(GetDlgItem(dlg.window(), IDC_PACK_USER));
    ASSERT_EQ(users.size(), 3u) << kind;
    // The box sorts; the first entry is chosen.
    EXPECT_EQ(users[0], "Wang") << kind;
    EXPECT_EQ(textOf(dlg, IDC_PACK_USER), "Wang") << kind;
    EXPECT_EQ(textOf(dlg, IDC_PACK_TYPES), defaultFileTypes(kind)) << kind;
  }
  EXPECT_TRUE(recorder.messages.empty());
}

// A failed pack leaves every field as typed; the next OK reads them again.
TEST_F(PackDialogsTest, PackDialogStaysOpenWithItsFieldsAfterAFailedPack) {
  TempDir dir;
  testing::useProgramDirectory(dir);
  writeFile(dir, "tree/ovixsetup.ini", testing::kSetup);
  writeFile(dir, "tree/插件/a.lua", "print(1)");
  ovix::testing::ScopedRecorder recorder;
  COvixLocalPackage dlg(Env::Default());
  open(dlg);
  type(dlg, IDC_PACK_PATH, dir.file("无此目录"));
  type(dlg, IDC_PACK_SUBDIR, "插件");
  type(dlg, IDC_PACK_TYPES, "LUA");
  type(dlg, IDC_PACK_USER, "..");  // not one folder name
  press(dlg, IDOK);
  ASSERT_TRUE(isOpen(dlg));
  EXPECT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(textOf(dlg, IDC_PACK_SUBDIR), "插件");

  type(dlg, IDC_PACK_PATH, dir.file("tree"));
  type(dlg, IDC_PACK_USER, "发布");
  press(dlg, IDOK);
  EXPECT_EQ(dlg.result(), IDOK) << ::testing::PrintToString(recorder.messages);
  EXPECT_EQ(testing::filesEndingIn(dir.file("program/发布"), ".package").size(), 1u);
}

struct VersionCase {
  const char* date;
  bool projectMode;
  const char* stored;  // null: the dialog stays open
};

class VersionDialogTest : public testing::DialogTest,
                          public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionDialogTest, ClosesOnlyOnADateTheCoreAccepts) {
  const VersionCase& c = GetParam();
  ovix::testing::ScopedRecorder recorder;
  COvixPackageSelectDlg dlg;
  dlg.m_projectMode = c.projectMode;
  open(dlg);
  EXPECT_EQ(textOf(dlg, IDC_VERSION_NAME), versionDialogNames().front());
  EXPECT_EQ(textOf(dlg, IDC_VERSION_VERSION), versionDialogVersions().front());
  type(dlg, IDC_VERSION_NAME, "OVIX_VEL");
  type(dlg, IDC_VERSION_DATE, c.date);
  press(dlg, IDOK);
  if (c.stored == nullptr) {
    EXPECT_TRUE(isOpen(dlg));
    EXPECT_EQ(recorder.messages,
              std::vector<std::string>{"日期格式有错，要求为YYYY-MM-DD的格式"});
    return;
  }
  EXPECT_EQ(dlg.result(), IDOK);
  EXPECT_EQ(dlg.info().name + "|" + dlg.info().version + "|" + dlg.info().date,
            std::string("OVIX_VEL|V3|") + c.stored);
}

INSTANTIATE_TEST_SUITE_P(Dates, VersionDialogTest,
                         ::testing::Values(VersionCase{"2024-05-06", false, "2024-05-06-00-00"},
                                           VersionCase{"2024年05月06日 13:45", false,
                                                       "2024-05-06-13-45"},
                                           VersionCase{"", true, ""},
                                           VersionCase{"9999-13-01", false, nullptr}));

// Answers the dialogs that the pack job opens over the pack dialog as they
// appear, from a thread timer that their modal loops run, typing `typed`
// (password, date, file name; null: Cancel), and notes each in `shown`.  A
// dialog still open a while after its answer is cancelled, so that a fault
// cannot hang the test.
struct ModalUser {
  const char* typed[3];
  std::string shown;             // "password:<prompt's end>|version|file:<title>"
  std::map<HWND, int> answered;  // ticks since the answer
  static inline ModalUser* current = nullptr;

  static void post(HWND dlg, int id) { PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  void answer(HWND dlg) {
    if (answered.contains(dlg)) {
      if (++answered[dlg] == 40) post(dlg, IDCANCEL);
      return;
    }
    answered[dlg] = 0;
    wchar_t title[64] = L"";
    GetWindowTextW(dlg, title, 64);
    std::string prompt = itemText(dlg, IDC_PASSWORD_PROMPT);
    int kind = GetDlgItem(dlg, IDC_PASSWORD_TEXT) ? 0 : GetDlgItem(dlg, IDC_VERSION_DATE) ? 1 : 2;
    shown += std::string(shown.empty() ? "" : "|") +
             (kind == 0   ? "password:" + prompt.substr(prompt.find_last_of("/\\") + 1)
              : kind == 1 ? "version"
                          : "file:" + narrow(title));
    // The last: the file-open dialog's file name box (cmb13 of <dlgs.h>).
    int field[] = {IDC_PASSWORD_TEXT, IDC_VERSION_DATE, 0x47c};
    if (typed[kind] != nullptr) setItemText(dlg, field[kind], typed[kind]);
    post(dlg, typed[kind] != nullptr ? IDOK : IDCANCEL);
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
  makeDir(dir, "program/u");
  if (c.withSetup) writeFile(dir, "tree/ovixsetup.ini", testing::kSetup);
  writeFile(dir, "tree/a.lua", "print(1)");
  std::string info = writeFile(dir, "program/info.ini", "[PatchProject]\nGUID={G1}\nNAME=南京化工\n");
  std::replace(info.begin(), info.end(), '/', '\\');  // the file dialog takes no '/'
  if (c.withKey) writeFile(dir, "program/e.key", kEncryptedKey);
  if (c.withKey) writeFile(dir, "program/ovixpatch_pack.ini", "[Signing]\nKEY=e.key\n");
  ovix::testing::ScopedRecorder recorder;
  COvixLocalPackage dlg(Env::Default());
  dlg.m_kind = c.kind;
  open(dlg);
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
  std::vector<std::string> packages = testing::filesEndingIn(dir.file("program/u"), ".package");
  EXPECT_EQ(isOpen(dlg), c.header == nullptr);
  ASSERT_EQ(packages.size(), c.header == nullptr ? 0u : 1u);
  if (c.header == nullptr) return;
  EXPECT_EQ(ovix::testing::query(packages[0], "SELECT m_name||'|'||m_ver||'|'||m_ver_time||'|'||"
            "ifnull(m_proj_id,'')||'|'||ifnull(m_proj_guid,'')||'|'||(SELECT count(*) FROM "
            "sqlite_master WHERE name='OVIXPackageSignature') FROM OVIXPackageInfo"),
            ovix::testing::Rows{{c.header}});
}

constexpr char kInfoDialog[] = "version|file:请选择特定项目配置文件";
constexpr char kPasswordDialog[] = "password:e.key的密码：";
INSTANTIATE_TEST_SUITE_P(
    Answers, PackModalTest,
    ::testing::Values(
        ModalCase{"info chosen", "CONFIG", false, false, nullptr, "2024-05-06", "", kInfoDialog,
                  "OVIX_TARNO|V3|2024-05-06-00-00|南京化工|{G1}|0", "打包完成"},
        ModalCase{"info cancelled", "CONFIG", false, false, nullptr, "", nullptr, kInfoDialog,
                  "OVIX_TARNO|V3||||0", "打包完成"},
        ModalCase{"version cancelled", "DLL", false, false, nullptr, nullptr, nullptr, "version",
                  nullptr, "安装路径下无ovixsetup.ini文件"},
        ModalCase{"password right", "DLL", true, true, "pw", nullptr, nullptr, kPasswordDialog,
                  "OVIX_TARNO|V3|2020-01-01|||1", "打包完成"},
        ModalCase{"password wrong", "DLL", true, true, "x", nullptr, nullptr, kPasswordDialog,
                  nullptr, "签名私钥"},
        ModalCase{"password cancelled", "DLL", true, true, nullptr, nullptr, nullptr,
                  kPasswordDialog, nullptr, ""}));

}  // namespace
}  // namespace ovix::win32
