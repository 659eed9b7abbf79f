// The download dialog driven offscreen: its remembered fields, a refused
// OK, and a whole download from an embedded store, with a picture.

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "gui/update_patch_dlg.h"
#include "jobs/download.h"
#include "jobs/pack_job.h"
#include "package/package_records.h"
#include "platform/zeda_system.h"
#include "server/upload.h"
#include "testing/dialog_test_support.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::queryRows;
using ovix::testing::replaceText;
using ovix::testing::savePicture;
using ovix::testing::useProgramDirectory;

constexpr char kSetup[] =
    "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n";

std::string setupValue(const std::string& setupFile, const char* key) {
  ovix::IniFile ini;
  ini.load(*ovix::Env::Default(), setupFile);
  char const* value = ini.getValue("OVIX", key);
  return value != nullptr ? value : "<none>";
}

// The pack job never asks here: the tree has its setup file.
class NoQuestionsPackUi final : public ovix::PackJobUi {
 public:
  bool askVersion(bool, ovix::VersionInfo*) override { return false; }
  bool chooseProjectInfoFile(const std::string&, std::string*) override { return false; }
};

}  // namespace

class UpdatePatchDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
    ZedaSystem::setProjectDbtype(2);
  }

  // ---- fields ---------------------------------------------------------------

  void dialogShowsTheRememberedTexts() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, "ovixpatch_download.ini",
                        "[MySqlServer]\nIP=192.168.10.20\nPORT=3306\nPATH=/opt/ovix/安装\n");
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("OVIX补丁程序"));
    QCOMPARE(dlg.installEdit()->text(), QStringLiteral("/opt/ovix/安装"));
    QCOMPARE(dlg.addressEdit()->text(), QStringLiteral("192.168.10.20"));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3306"));
    auto* buttons = dlg.findChild<QDialogButtonBox*>();
    QVERIFY(buttons->button(QDialogButtonBox::Ok)->isDefault());
    QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    savePicture(&dlg, "download_dialog.png");

    // Showing again keeps what was typed.
    replaceText(dlg.portEdit(), QStringLiteral("3307"));
    dlg.hide();
    dlg.show();
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3307"));
    QCOMPARE(dlg.installEdit()->text(), QStringLiteral("/opt/ovix/安装"));
  }

  void firstStartWithoutSettingsFileShowsEmptyBoxes() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir);
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.installEdit()->text().isEmpty());
    QVERIFY(dlg.addressEdit()->text().isEmpty());
    QVERIFY(dlg.portEdit()->text().isEmpty());
  }

  // ---- OK ---------------------------------------------------------------------

  void emptyPortKeepsTheDialogOpenAndSavesNothing() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir);
    std::string install = dir.mkdir("install");
    dir.write("install/ovixsetup.ini", kSetup);
    const std::string settings = dir.file("program/ovixpatch_download.ini");

    ovix::testing::ScopedRecorder recorder;
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    bool openAfterOk = false;
    bool settingsAfterOk = true;
    std::vector<std::string> messagesAfterOk;
    QString installAfterOk;
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.installEdit(), QString::fromUtf8(install));
      replaceText(dlg.addressEdit(), QString::fromUtf8("file:" + dir.mkdir("store")));
      replaceText(dlg.portEdit(), QString());
      clickOk(&dlg);
      openAfterOk = dlg.isVisible();
      settingsAfterOk = fs::exists(fs::path(settings));
      messagesAfterOk = recorder.messages;
      installAfterOk = dlg.installEdit()->text();
      dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));

    QVERIFY(openAfterOk);
    QCOMPARE(installAfterOk, QString::fromUtf8(install));
    QCOMPARE(messagesAfterOk.size(), size_t(1));
    QVERIFY2(messagesAfterOk[0].rfind("版本补丁数据库不存在:", 0) == 0,
             messagesAfterOk[0].c_str());
    QVERIFY(!settingsAfterOk);
    QVERIFY(!fs::exists(fs::path(settings)));
    QCOMPARE(setupValue(dir.file("install/ovixsetup.ini"), "PATCH"), std::string("<none>"));
  }

  void okDownloadsThePatchAndRemembersTheTexts() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir);
    ovix::Env& env = *ovix::Env::Default();

    // Pack a tree holding a newer .dll and put it into an embedded store.
    dir.write("tree/ovixsetup.ini", kSetup);
    dir.write("tree/bin/core.dll", "new dll bytes");
    dir.mkdir("program/userA");
    const std::string store = dir.mkdir("store");
    const std::string address = "file:" + store;
    {
      ovix::testing::ScopedRecorder quiet;  // keeps the pack and upload reports quiet
      ovix::PackDialogFields fields{"userA", dir.file("tree"), "", "DLL"};
      NoQuestionsPackUi packUi;
      std::string packed;
      QVERIFY(ovix::packDialogOk(env, fields, "DLL", packUi, &packed));
      QVERIFY(ovix::uploadPackage(env, packed, address.c_str(), "0"));
    }
    const std::vector<std::string> keys =
        queryRows(store + "/ovixinstallpatch.sqlite", "SELECT m_skey FROM OVIXPackageInfo");
    QCOMPARE(keys.size(), size_t(1));

    // An installation with an older copy; a non-ASCII name must reach the
    // core unchanged.
    const std::string install = dir.mkdir("安装");
    dir.write("安装/ovixsetup.ini", kSetup);
    dir.write("安装/bin/core.dll", "old");

    ovix::testing::ScopedRecorder recorder;
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.installEdit(), QString::fromUtf8(install));
      replaceText(dlg.addressEdit(), QString::fromUtf8(address));
      replaceText(dlg.portEdit(), QStringLiteral("0"));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));

    QCOMPARE(recorder.messages, std::vector<std::string>({"下载补丁完成"}));
    QCOMPARE(dir.read("安装/bin/core.dll"), std::string("new dll bytes"));
    QCOMPARE(setupValue(dir.file("安装/ovixsetup.ini"), "PATCH"), keys[0]);
    QCOMPARE(setupValue(dir.file("安装/ovixsetup.ini"), "NAME"), std::string("OVIX_TARNO"));

    COvixUpdatePatchDlg again(ovix::Env::Default());
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.installEdit()->text(), QString::fromUtf8(install));
    QCOMPARE(again.addressEdit()->text(), QString::fromUtf8(address));
    QCOMPARE(again.portEdit()->text(), QStringLiteral("0"));
  }
};

QTEST_MAIN(UpdatePatchDlgTest)
#include "update_patch_dlg_test.moc"
