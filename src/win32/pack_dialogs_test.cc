// The pack dialog and the version dialog, driven headlessly: the pack
// dialog offers the program directory's user folders and the kind's file
// types and hands every typed field to the pack job; the version dialog
// closes only on a date the core accepts and hands over what it stored.

#include <string>
#include <vector>

#include "jobs/pack_job.h"
#include "packing/version_input.h"
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

}  // namespace
}  // namespace ovix::win32
