// The dialogs that talk to a version server, driven offscreen against an
// embedded store: the upload, download and project information dialogs
// show the remembered server, hand their typed texts to the core's jobs as
// UTF-8, show its messages, stay open after a refusal and keep the typed
// texts when shown again.  Pictures of each dialog are saved.

#include <QComboBox>
#include <QLineEdit>
#include <QtTest>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "gui/project_info_dlg.h"
#include "gui/server_commit_dlg.h"
#include "gui/update_patch_dlg.h"
#include "jobs/download.h"
#include "jobs/pack_job.h"
#include "jobs/server_commit.h"
#include "package/package_records.h"
#include "platform/zeda_system.h"
#include "testing/dialog_test_support.h"
#include "testing/recording_presenter.h"

namespace {

namespace fs = std::filesystem;
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

class ServerDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
    ZedaSystem::setProjectDbtype(2);
  }

  // Whether a password is right and what a download changes is the core's,
  // and so is what is remembered after a failure; both dialogs keep their
  // typed texts when shown again by the base they share, checked on the
  // upload dialog.  The upload dialog hands over its kind, so a project
  // package is missing at first.
  void aPackageGoesUpThroughTheUploadDialogAndDownThroughTheDownloadDialog() {
    TempDir dir;
    const std::string address = prepareServer(dir);
    const QString typedAddress = QString::fromUtf8(address);
    std::string program = useProgramDirectory(dir, "ovixpatch_upload.ini",
                                              "[MySqlServer]\nIP=192.168.10.20\nPORT=3307\n");
    dir.write("program/ovixpatch_download.ini",
              "[MySqlServer]\nIP=192.168.10.20\nPORT=3306\nPATH=/opt/ovix/安装\n");
    ovix::testing::ScopedRecorder recorder;
    struct : ovix::PackJobUi {
      bool askVersion(bool, ovix::VersionInfo*) override { return false; }
      bool chooseProjectInfoFile(const std::string&, std::string*) override { return false; }
      bool askSigningPassword(const std::string&, std::string*) override { return false; }
    } neverAsked;
    dir.write("tree/ovixsetup.ini", ovix::testing::kSetup);
    dir.write("tree/bin/core.dll", "new dll bytes");
    std::string packed;
    ovix::PackDialogFields fields;
    fields.path = dir.file("tree");
    fields.types = "DLL";
    QVERIFY(ovix::packDialogOk(*ovix::Env::Default(), fields, "DLL", neverAsked, &packed));
    // The upload takes the newest package in the program directory.
    fs::rename(packed, fs::path(program) / fs::path(packed).filename());
    const std::string install = dir.mkdir("安装");
    dir.write("安装/ovixsetup.ini", ovix::testing::kSetup);
    dir.write("安装/bin/core.dll", "old");
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
    upload.setPackageKind("DLL");
    replaceText(upload.passwordEdit(), QStringLiteral("secret1"));
    clickOk(&upload);
    QVERIFY(!upload.passwordEdit()->displayText().contains(QStringLiteral("secret1")));
    savePicture(&upload, "upload_dialog.png");
    QVERIFY(upload.isVisible());
    upload.hide();
    upload.show();
    QCOMPARE(textsOf({upload.addressEdit(), upload.portEdit(), upload.passwordEdit()}),
             typedAddress + "|0|secret1");
    replaceText(upload.passwordEdit(), QStringLiteral("Secret1"));
    clickOk(&upload);
    QCOMPARE(upload.result(), int(QDialog::Accepted));
    ovix::ServerAddress server = ovix::loadRememberedServer(*ovix::Env::Default());
    QCOMPARE(server.address + "|" + server.port, address + "|0");

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
                 {"当前程序运行目录下，未找到类型为CONFIG的package", "用户名和密码不对", "上传完成",
                  "版本补丁数据库不存在:" + noStore + ",0,ovixinstallpatch", "下载补丁完成"}));
  }

  // The list of projects is refilled whenever the address or the port edit
  // loses focus, keeps the typed name and never chooses one for the user;
  // OK writes the information file of the typed project.
  void projectInfoDialogListsTheServersProjectsAndWritesTheTypedOne() {
    TempDir dir;
    const std::string address = prepareServer(dir);
    useProgramDirectory(dir, "ovixpatch_upload.ini", "[MySqlServer]\nIP=" + address + "\nPORT=0\n");
    ovix::testing::ScopedRecorder recorder;
    COvixProjectInfo dlg(ovix::Env::Default());
    QVERIFY(showActive(&dlg));
    const QStringList projects{QStringLiteral("南京化工"), QStringLiteral("Alpha"),
                               QStringLiteral("北京炼化")};
    QCOMPARE(comboItems(dlg.projectCombo()), projects);
    QCOMPARE(dlg.projectCombo()->currentIndex(), -1);
    dlg.projectCombo()->setCurrentIndex(2);
    savePicture(&dlg, "project_info_dialog.png");

    // Without a port there is nothing to list, and nothing to point out.
    QLineEdit* projectEdit = dlg.projectCombo()->lineEdit();
    dlg.portEdit()->clear();
    dlg.portEdit()->setFocus();
    replaceText(projectEdit, QStringLiteral("北京炼化"));
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QVERIFY(projectEdit->placeholderText().isEmpty());
    dlg.portEdit()->setFocus();
    ovix::testing::typeText(dlg.portEdit(), QStringLiteral("0"));
    dlg.projectCombo()->setFocus();
    QCOMPARE(comboItems(dlg.projectCombo()), projects);
    QCOMPARE(dlg.projectCombo()->currentIndex(), 2);

    // A server without a general database: an empty list and a hint.
    replaceText(projectEdit, QStringLiteral("新项目"));
    replaceText(dlg.addressEdit(), QString::fromUtf8("file:" + dir.mkdir("空")));
    dlg.projectCombo()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QCOMPARE(projectEdit->placeholderText(), QStringLiteral("未能列出服务器上的项目"));
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("新项目"));

    // An edit's context menu takes the focus only for a moment; leaving an
    // unchanged edit lists again, as the server may have changed.
    runSql(dir.file("空/ovixgeneral.sqlite"),
           std::string(kProjectTable) + "INSERT INTO ZedaProject VALUES ('新项目','{N}','');");
    QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(dlg.addressEdit(), &toMenu);
    QCOMPARE(dlg.projectCombo()->count(), 0);
    dlg.portEdit()->setFocus();
    dlg.projectCombo()->setFocus();
    QCOMPARE(comboItems(dlg.projectCombo()), QStringList({QStringLiteral("新项目")}));
    QVERIFY(projectEdit->placeholderText().isEmpty());

    replaceText(dlg.addressEdit(), QString::fromUtf8(address));
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
    ovix::IniFile ini;
    QVERIFY(ini.load(*ovix::Env::Default(), file));
    QCOMPARE(ini.getValue("PatchProject", "GUID"), "{GUID-BJ}");
  }
};

QTEST_MAIN(ServerDialogsTest)
#include "server_dialogs_test.moc"
