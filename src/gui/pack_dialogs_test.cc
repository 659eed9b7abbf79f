// The pack dialog and the version dialog driven offscreen: the typed fields
// reaching the pack job, refused OKs, the version and file dialogs of a
// project pack, and pictures of the dialogs.

#include <QFileDialog>
#include <QtTest>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/local_package_dlg.h"
#include "gui/package_select_dlg.h"
#include "package/package_records.h"
#include "packing/version_input.h"
#include "platform/program_paths.h"
#include "testing/dialog_test_support.h"
#include "testing/recording_presenter.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::replaceText;
using ovix::testing::runSql;
using ovix::testing::savePicture;
using ovix::testing::ScopedRecorder;
using ovix::testing::TempDir;

// The path of the only package in `folder`, or "" when there is not exactly
// one.
std::string onlyPackageIn(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored))
    found.push_back(entry.path().string());
  return found.size() == 1 ? found[0] : "";
}

}  // namespace

class PackDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    setenv("TZ", "UTC", 1);
    tzset();
    registerRecordClasses();  // as the program's start-up does
  }

  // A missing start folder is refused and the dialog stays open; the fields
  // as typed then pack exactly bin/core.dll into the chosen user's folder.
  void packDialogListsUsersSortedAndPacksWithTheTypedFields() {
    TempDir dir;
    for (const char* user : {"zeta", "Beta", "用户甲", "alpha"})
      dir.mkdir(std::string("program/") + user);
    ovix::testing::useProgramDirectory(dir, "notes.txt", "no user folder");
    dir.write("安装/ovixsetup.ini", ovix::testing::kSetup);
    dir.write("安装/bin/core.dll", "dll");
    dir.write("安装/bin/tool.lua", "other type");
    dir.write("安装/lib/other.dll", "outside the start folder");

    ScopedRecorder recorder;
    COvixLocalPackage dlg(ovix::Env::Default());
    QVERIFY(ovix::testing::showActive(&dlg));
    QCOMPARE(ovix::testing::comboItems(dlg.userCombo()),
             QStringList({"alpha", "Beta", "zeta", QStringLiteral("用户甲")}));
    savePicture(&dlg, "pack_dialog_dll.png");
    replaceText(dlg.userCombo()->lineEdit(), QStringLiteral("用户甲"));
    replaceText(dlg.pathEdit(), QString::fromUtf8(dir.file("安装")));
    replaceText(dlg.subdirEdit(), QStringLiteral("nowhere"));
    replaceText(dlg.typesEdit(), QStringLiteral("DLL"));
    clickOk(&dlg);
    QVERIFY(dlg.isVisible());
    QCOMPARE(recorder.messages.front(), "路径下无文件：" + dir.file("安装"));
    replaceText(dlg.subdirEdit(), QStringLiteral("bin"));
    clickOk(&dlg);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(runSql(onlyPackageIn(dir.file("program/用户甲")), "SELECT m_skey FROM OVIXFileRecord"),
             std::vector<std::string>({"bin\\core.dll"}));
  }

  // The version dialog opens in project mode, stays open on a bad date and hands over the typed
  // name, the chosen version and the full date; the file dialog starts in the program directory and
  // names the target project.
  void projectPackTakesTheVersionDialogsValuesAndTheTargetProject() {
    TempDir dir;
    dir.mkdir("program/site");
    ovix::testing::useProgramDirectory(dir);
    std::string info = dir.write("program/P1.ini", "[PatchProject]\nGUID={P-1}\nNAME=一号装置\n");
    dir.write("project/data/pipes.xml", "<x/>");

    ScopedRecorder recorder;
    COvixLocalPackage dlg(ovix::Env::Default());
    dlg.m_kind = "CONFIG";
    bool versionInProjectMode = false, openAfterBadDate = false;
    QString fileDirectory;
    ovix::testing::whenModal<COvixPackageSelectDlg>(&dlg, [&](COvixPackageSelectDlg* version) {
      versionInProjectMode = version->m_projectMode;
      savePicture(version, "version_dialog.png");
      replaceText(version->nameCombo()->lineEdit(), QStringLiteral("OVIX_MORBIX"));
      version->versionCombo()->setCurrentIndex(1);
      replaceText(version->dateEdit(), QStringLiteral("9999-13-01"));
      clickOk(version);
      openAfterBadDate = version->isVisible();
      replaceText(version->dateEdit(), QStringLiteral("2024-05-06"));
      clickOk(version);
    });
    ovix::testing::whenModal<QFileDialog>(&dlg, [&](QFileDialog* files) {
      fileDirectory = files->directory().absolutePath();
      // Typed as a full path: the list of the directory may still be loading.
      if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        replaceText(name, QString::fromUtf8(info));
      static_cast<QDialog*>(files)->accept();  // the Open button
    });
    QVERIFY(ovix::testing::showActive(&dlg));
    savePicture(&dlg, "pack_dialog_config.png");
    replaceText(dlg.pathEdit(), QString::fromUtf8(dir.file("project")));
    clickOk(&dlg);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(versionInProjectMode);
    QVERIFY(openAfterBadDate);
    QCOMPARE(fileDirectory, QString::fromUtf8(ovix::programDirectory));
    QCOMPARE(recorder.messages.front(), std::string("日期格式有错，要求为YYYY-MM-DD的格式"));
    QCOMPARE(runSql(onlyPackageIn(dir.file("program/site")),
                    "SELECT m_name, m_ver, m_ver_time, m_proj_id FROM OVIXPackageInfo"),
             std::vector<std::string>({"OVIX_MORBIX|" + ovix::versionDialogVersions().at(1) +
                                       "|2024-05-06-00-00|一号装置"}));
  }
};

QTEST_MAIN(PackDialogsTest)
#include "pack_dialogs_test.moc"
