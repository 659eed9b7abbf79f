// The download dialog driven offscreen: its remembered fields, a refused
// OK, and a whole download from an embedded store, with a picture.

#include <QLineEdit>
#include <QtTest>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/update_patch_dlg.h"
#include "jobs/download.h"
#include "jobs/pack_job.h"
#include "package/package_records.h"
#include "platform/zeda_system.h"
#include "server/upload.h"
#include "testing/dialog_test_support.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::execDoing;
using ovix::testing::kSetup;
using ovix::testing::replaceText;
using ovix::testing::savePicture;
using ovix::testing::ScopedRecorder;
using ovix::testing::showExposed;
using ovix::testing::TempDir;
using ovix::testing::useProgramDirectory;

}  // namespace

class UpdatePatchDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
    ZedaSystem::setProjectDbtype(2);
  }

  void dialogShowsTheRememberedTextsAndKeepsTypedOnes() {
    TempDir dir;
    useProgramDirectory(dir, "ovixpatch_download.ini",
                        "[MySqlServer]\nIP=192.168.10.20\nPORT=3306\nPATH=/opt/ovix/安装\n");
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    QVERIFY(showExposed(&dlg));
    QCOMPARE(dlg.installEdit()->text(), QStringLiteral("/opt/ovix/安装"));
    QCOMPARE(dlg.addressEdit()->text(), QStringLiteral("192.168.10.20"));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3306"));
    savePicture(&dlg, "download_dialog.png");

    replaceText(dlg.portEdit(), QStringLiteral("3307"));
    dlg.hide();
    dlg.show();
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3307"));
  }

  // What a download changes is the core's and tested there; the dialog stays
  // open and remembers nothing after a failure, hands over its texts, a
  // non-ASCII installation name unchanged, and closes on success.
  void okDownloadsThePatchOnlyFromAStoreAndRemembersTheTexts() {
    TempDir dir;
    useProgramDirectory(dir);
    ovix::Env& env = *ovix::Env::Default();
    const std::string address = "file:" + dir.mkdir("store");
    {
      ScopedRecorder quiet;
      QVERIFY(ovix::uploadPackage(env, ovix::testing::packSoftware(dir, "new dll bytes"),
                                  address.c_str(), "0"));
    }
    const std::string install = dir.mkdir("安装");
    dir.write("安装/ovixsetup.ini", kSetup);
    dir.write("安装/bin/core.dll", "old");

    ScopedRecorder recorder;
    COvixUpdatePatchDlg dlg(ovix::Env::Default());
    bool openAfterNoStore = false, rememberedAfterNoStore = true;
    int result = execDoing(&dlg, [&] {
      replaceText(dlg.installEdit(), QString::fromUtf8(install));
      replaceText(dlg.addressEdit(), QString::fromUtf8("file:" + dir.mkdir("empty")));
      replaceText(dlg.portEdit(), QStringLiteral("0"));
      clickOk(&dlg);
      openAfterNoStore = dlg.isVisible();
      rememberedAfterNoStore = fs::exists(dir.file("program/ovixpatch_download.ini"));
      replaceText(dlg.addressEdit(), QString::fromUtf8(address));
      clickOk(&dlg);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(openAfterNoStore);
    QVERIFY(!rememberedAfterNoStore);
    QCOMPARE(recorder.messages.size(), size_t(2));
    QVERIFY2(recorder.messages[0].starts_with("版本补丁数据库不存在:"),
             recorder.messages[0].c_str());
    QCOMPARE(recorder.messages[1], std::string("下载补丁完成"));
    QCOMPARE(dir.read("安装/bin/core.dll"), std::string("new dll bytes"));
    ovix::DownloadFields remembered = ovix::loadRememberedDownload(env);
    QCOMPARE(remembered.installPath + "|" + remembered.address + "|" + remembered.port,
             install + "|" + address + "|0");
  }
};

QTEST_MAIN(UpdatePatchDlgTest)
#include "update_patch_dlg_test.moc"
