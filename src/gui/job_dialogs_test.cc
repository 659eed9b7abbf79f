// The dialogs of the jobs, driven offscreen against an embedded store.
// Each shows its remembered or default fields, hands its typed texts to the
// core's job as UTF-8, stays open with them after a refusal and closes on
// success.  Pictures of each dialog are saved.

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QtTest>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "gui/local_package_dlg.h"
#include "gui/package_select_dlg.h"
#include "gui/project_info_dlg.h"
#include "gui/server_commit_dlg.h"
#include "gui/update_patch_dlg.h"
#include "jobs/download.h"
#include "package/package_records.h"
#include "packing/version_input.h"
#include "platform/program_paths.h"
#include "platform/zeda_system.h"
#include "testing/dialog_test_support.h"
#include "testing/recording_presenter.h"

namespace {

using ovix::testing::clickOk;
using ovix::testing::comboItems;
using ovix::testing::replaceText;
using ovix::testing::runSql;
using ovix::testing::savePicture;
using ovix::testing::showActive;
using ovix::testing::TempDir;
using ovix::testing::useProgramDirectory;

constexpr char kProjectTable[] =
    "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);";

// A server directory, not ASCII, whose general database holds the
// administrator "system"/"Secret1" and three projects, not in alphabetical
// order; the server's address.
std::string prepareServer(const TempDir& dir) {
  std::string server = dir.mkdir("服务器");
  runSql(server + "/ovixgeneral.sqlite",
         std::string(kProjectTable) +
             "INSERT INTO ZedaProject VALUES ('南京化工','{GUID-NJ}','A');"
             "INSERT INTO ZedaProject VALUES ('Alpha','{GUID-ALPHA}','B');"
             "INSERT INTO ZedaProject VALUES ('北京炼化','{GUID-BJ}','C');"
             "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
             "INSERT INTO ZedaUser VALUES ('system','Secret1');");
  return "file:" + server;
}

QString textsOf(std::initializer_list<const QLineEdit*> edits) {
  QStringList texts;
  for (const QLineEdit* edit : edits) texts << edit->text();
  return texts.join(QLatin1Char('|'));
}

}  // namespace

class JobDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    setenv("TZ", "UTC", 1);
    tzset();
    registerRecordClasses();  // as the program's start-up does
    ZedaSystem::setProjectDbtype(2);
  }

  // A patch packed in the pack dialog goes up through the upload dialog and
  // down through the download dialog.  The pack dialog lists the user
  // folders sorted; a missing start folder is refused, then its fields as
  // typed pack exactly bin/core.dll.  The upload dialog hands over its kind,
  // so a project package is missing at first.  Both server dialogs keep
  // their typed texts when shown again by the base they share, checked on
  // the upload dialog.  What a download changes is the core's.
  void aPatchGoesFromThePackDialogUpAndDownIntoAnInstallation() {
    TempDir dir;
    const std::string address = prepareServer(dir);
    const QString typedAddress = QString::fromUtf8(address);
    useProgramDirectory(dir, "ovixpatch_upload.ini",
                        "[MySqlServer]\nIP=192.168.10.20\nPORT=3307\n");
    dir.write("program/ovixpatch_download.ini",
              "[MySqlServer]\nIP=192.168.10.20\nPORT=3306\nPATH=/opt/ovix/安装\n");
    for (const char* user : {"zeta", "Beta", "用户甲", "alpha"})
      dir.mkdir(std::string("program/") + user);
    dir.write("tree/ovixsetup.ini", ovix::testing::kSetup);
    dir.write("tree/bin/core.dll", "new dll bytes");
    dir.write("tree/bin/tool.lua", "other type");
    dir.write("tree/lib/other.dll", "outside the start folder");
    const std::string install = dir.mkdir("安装");
    dir.write("安装/ovixsetup.ini", ovix::testing::kSetup);
    dir.write("安装/bin/core.dll", "old");
    ovix::testing::ScopedRecorder recorder;

    COvixLocalPackage pack(ovix::Env::Default());
    QVERIFY(showActive(&pack));
    QCOMPARE(comboItems(pack.userCombo()),
             QStringList({"alpha", "Beta", "zeta", QStringLiteral("用户甲")}));
    savePicture(&pack, "pack_dialog_dll.png");
    replaceText(pack.userCombo()->lineEdit(), QStringLiteral("用户甲"));
    replaceText(pack.pathEdit(), QString::fromUtf8(dir.file("tree")));
    replaceText(pack.subdirEdit(), QStringLiteral("nowhere"));
    replaceText(pack.typesEdit(), QStringLiteral("DLL"));
    clickOk(&pack);
    QVERIFY(pack.isVisible());
    QCOMPARE(recorder.messages.front(), "路径下无文件：" + dir.file("tree"));
    replaceText(pack.subdirEdit(), QStringLiteral("bin"));
    clickOk(&pack);
    QCOMPARE(pack.result(), int(QDialog::Accepted));
    const std::vector<std::string> packages = ovix::testing::namesIn(dir.file("program/用户甲"));
    QCOMPARE(packages.size(), size_t(1));
    const std::string packed = dir.file("program/用户甲/" + packages[0]);
    QCOMPARE(runSql(packed, "SELECT m_skey FROM OVIXFileRecord"),
             std::vector<std::string>({"bin\\core.dll"}));
    // The upload takes the newest package in the program directory.
    QVERIFY(ovix::Env::Default()->renameFile(packed, dir.file("program/" + packages[0])));
    recorder.messages.clear();

    COvixServerCommitDlg upload(ovix::Env::Default());
    upload.setPackageKind("CONFIG");
    QVERIFY(showActive(&upload));
    QCOMPARE(textsOf({upload.addressEdit(), upload.portEdit(), upload.passwordEdit()}),
             QStringLiteral("192.168.10.20|3307|"));
    replaceText(upload.addressEdit(), typedAddress);
    replaceText(upload.portEdit(), QStringLiteral("0"));
    replaceText(upload.passwordEdit(), QStringLiteral("Secret1"));
    clickOk(&upload);
    QVERIFY(!upload.passwordEdit()->displayText().contains(QStringLiteral("Secret1")));
    savePicture(&upload, "upload_dialog.png");
    QVERIFY(upload.isVisible());
    upload.hide();
    upload.show();
    QCOMPARE(textsOf({upload.addressEdit(), upload.portEdit(), upload.passwordEdit()}),
             typedAddress + "|0|Secret1");
    upload.setPackageKind("DLL");
    clickOk(&upload);
    QCOMPARE(upload.result(), int(QDialog::Accepted));

    const std::string noStore = "file:" + dir.mkdir("empty");
    COvixUpdatePatchDlg download(ovix::Env::Default());
    QVERIFY(showActive(&download));
    QCOMPARE(textsOf({download.installEdit(), download.addressEdit(), download.portEdit()}),
             QStringLiteral("/opt/ovix/安装|192.168.10.20|3306"));
    savePicture(&download, "download_dialog.png");
    replaceText(download.installEdit(), QString::fromUtf8(install));
    replaceText(download.addressEdit(), QString::fromUtf8(noStore));
    replaceText(download.portEdit(), QStringLiteral("0"));
    clickOk(&download);
    QVERIFY(download.isVisible());
    replaceText(download.addressEdit(), typedAddress);
    clickOk(&download);
    QCOMPARE(download.result(), int(QDialog::Accepted));
    QCOMPARE(dir.read("安装/bin/core.dll"), std::string("new dll bytes"));
    ovix::DownloadFields after = ovix::loadRememberedDownload(*ovix::Env::Default());
    QCOMPARE(after.installPath + "|" + after.address + "|" + after.port,
             install + "|" + address + "|0");

    QCOMPARE(recorder.messages,
             std::vector<std::string>(
                 {"当前程序运行目录下，未找到类型为CONFIG的package", "上传完成",
                  "版本补丁数据库不存在:" + noStore + ",0,ovixinstallpatch", "下载补丁完成"}));
  }

  // The version dialog opens in project mode, stays open on a bad date and
  // hands over the typed name, the chosen version and the full date; the
  // file dialog starts in the program directory and names the target
  // project.
  void projectPackTakesTheVersionDialogsValuesAndTheTargetProject() {
    TempDir dir;
    dir.mkdir("program/site");
    useProgramDirectory(dir);
    std::string info = dir.write("program/P1.ini", "[PatchProject]\nGUID={P-1}\nNAME=一号装置\n");
    dir.write("project/data/pipes.xml", "<x/>");

    ovix::testing::ScopedRecorder recorder;
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
    QVERIFY(showActive(&dlg));
    savePicture(&dlg, "pack_dialog_config.png");
    replaceText(dlg.pathEdit(), QString::fromUtf8(dir.file("project")));
    clickOk(&dlg);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(versionInProjectMode);
    QVERIFY(openAfterBadDate);
    QCOMPARE(fileDirectory, QString::fromUtf8(ovix::programDirectory));
    QCOMPARE(recorder.messages.front(), std::string("日期格式有错，要求为YYYY-MM-DD的格式"));
    const std::vector<std::string> packages = ovix::testing::namesIn(dir.file("program/site"));
    QCOMPARE(packages.size(), size_t(1));
    QCOMPARE(runSql(dir.file("program/site/" + packages[0]),
                    "SELECT m_name, m_ver, m_ver_time, m_proj_id FROM OVIXPackageInfo"),
             std::vector<std::string>({"OVIX_MORBIX|" + ovix::versionDialogVersions().at(1) +
                                       "|2024-05-06-00-00|一号装置"}));
  }

  // The list of projects is refilled whenever the address or the port edit
  // loses focus, keeps the typed name and never chooses one for the user;
  // OK has the information file of the typed project written.
  void projectInfoDialogListsTheServersProjectsAndWritesTheTypedOne() {
    TempDir dir;
    const std::string address = prepareServer(dir);
    useProgramDirectory(dir, "ovixpatch_upload.ini", "[MySqlServer]\nIP=" + address + "\nPORT=0\n");
    ovix::testing::ScopedRecorder recorder;
    COvixProjectInfo dlg(ovix::Env::Default());
    QVERIFY(showActive(&dlg));
    QCOMPARE(comboItems(dlg.projectCombo()), QStringList({QStringLiteral("南京化工"), "Alpha",
                                                          QStringLiteral("北京炼化")}));
    QCOMPARE(dlg.projectCombo()->currentIndex(), -1);
    dlg.projectCombo()->setCurrentIndex(2);
    savePicture(&dlg, "project_info_dialog.png");

    // A server without a general database: an empty list and a hint.
    QLineEdit* projectEdit = dlg.projectCombo()->lineEdit();
    replaceText(projectEdit, QStringLiteral("新项目"));
    replaceText(dlg.addressEdit(), QString::fromUtf8("file:" + dir.mkdir("空")));
    dlg.projectCombo()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QCOMPARE(projectEdit->placeholderText(), QStringLiteral("未能列出服务器上的项目"));
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("新项目"));

    // An edit's context menu takes the focus only for a moment; leaving an
    // unchanged edit lists again, as the server may have changed, and the
    // typed name is chosen once it is listed.
    runSql(dir.file("空/ovixgeneral.sqlite"),
           std::string(kProjectTable) + "INSERT INTO ZedaProject VALUES ('Beta','{B}',''),"
                                        "('新项目','{N}','');");
    QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(dlg.addressEdit(), &toMenu);
    QCOMPARE(dlg.projectCombo()->count(), 0);
    dlg.portEdit()->setFocus();
    dlg.projectCombo()->setFocus();
    QCOMPARE(comboItems(dlg.projectCombo()), QStringList({"Beta", QStringLiteral("新项目")}));
    QCOMPARE(dlg.projectCombo()->currentIndex(), 1);
    QVERIFY(projectEdit->placeholderText().isEmpty());

    // Without a port there is nothing to list, and nothing to point out.
    dlg.portEdit()->clear();
    dlg.portEdit()->setFocus();
    dlg.projectCombo()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QVERIFY(projectEdit->placeholderText().isEmpty());

    replaceText(dlg.addressEdit(), QString::fromUtf8(address));
    replaceText(dlg.portEdit(), QStringLiteral("0"));
    replaceText(projectEdit, QStringLiteral("不存在的项目"));
    clickOk(&dlg);
    QVERIFY(dlg.isVisible());
    replaceText(projectEdit, QStringLiteral("北京炼化"));
    clickOk(&dlg);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    const std::string file = dir.file("program/北京炼化.ini");
    QCOMPARE(recorder.messages, std::vector<std::string>(
                                    {"未成功查询到项目信息：不存在的项目",
                                     "生成项目信息文件成功，请发给软件开发商！\n文件名：" + file}));
  }
};

QTEST_MAIN(JobDialogsTest)
#include "job_dialogs_test.moc"
