// The upload dialog driven offscreen: the remembered server, the hidden
// password, and whole uploads into an embedded store, with a picture.

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/server_commit_dlg.h"
#include "jobs/pack_job.h"
#include "jobs/server_commit.h"
#include "package/package_records.h"
#include "jobs/server_commit.h"
#include "testing/dialog_test_support.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::execDoing;
using ovix::testing::replaceText;
using ovix::testing::runSql;
using ovix::testing::savePicture;
using ovix::testing::ScopedRecorder;
using ovix::testing::showExposed;
using ovix::testing::TempDir;
using ovix::testing::useProgramDirectory;

// A server directory, not ASCII, with the administrator "system"/"Secret1",
// and one software package directly in the program directory; the server's
// address.
std::string prepareServerAndPackage(const TempDir& dir) {
  std::string program = useProgramDirectory(dir);
  std::string server = dir.mkdir("服务器");
  runSql(server + "/ovixgeneral.sqlite",
         "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
         "INSERT INTO ZedaUser VALUES ('system','Secret1');");
  fs::path packed(ovix::testing::packSoftware(dir, "dll"));
  fs::rename(packed, fs::path(program) / packed.filename());
  return "file:" + server;
}

}  // namespace

class ServerCommitDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
  }

  void dialogShowsRememberedServerKeepsTypedTextsAndHidesThePassword() {
    TempDir dir;
    useProgramDirectory(dir, "ovixpatch_upload.ini",
                        "[MySqlServer]\nIP=192.168.10.20\nPORT=3307\n");
    COvixServerCommitDlg dlg(ovix::Env::Default());
    QVERIFY(showExposed(&dlg));
    QCOMPARE(dlg.addressEdit()->text(), QStringLiteral("192.168.10.20"));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3307"));
    QVERIFY(dlg.passwordEdit()->text().isEmpty());
    QVERIFY(dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isDefault());

    replaceText(dlg.passwordEdit(), QStringLiteral("Secret1"));
    QVERIFY(!dlg.passwordEdit()->displayText().contains(QStringLiteral("Secret1")));
    savePicture(&dlg, "upload_dialog.png");

    replaceText(dlg.addressEdit(), QStringLiteral("10.0.0.1"));
    dlg.hide();
    dlg.show();
    QCOMPARE(dlg.addressEdit()->text(), QStringLiteral("10.0.0.1"));
  }

  // Whether a password is right and what is stored is the core's and tested
  // there; the dialog hands over its texts as UTF-8 and its kind, keeps the
  // texts after a refusal and closes only on success.
  void okUploadsOnlyWithTheRightPasswordAndAPackageOfTheKind() {
    TempDir dir;
    const std::string address = prepareServerAndPackage(dir);
    ScopedRecorder recorder;
    auto typeAndOk = [&](COvixServerCommitDlg& dlg, const QString& password) {
      replaceText(dlg.addressEdit(), QString::fromUtf8(address));
      replaceText(dlg.portEdit(), QStringLiteral("0"));
      replaceText(dlg.passwordEdit(), password);
      clickOk(&dlg);
    };
    COvixServerCommitDlg project(ovix::Env::Default());
    project.setPackageKind("CONFIG");
    QCOMPARE(execDoing(&project, [&] { typeAndOk(project, QStringLiteral("Secret1")); }),
             int(QDialog::Rejected));

    COvixServerCommitDlg dlg(ovix::Env::Default());
    bool openAfterWrong = false;
    QString textsAfterWrong;
    int result = execDoing(&dlg, [&] {
      typeAndOk(dlg, QStringLiteral("secret1"));
      openAfterWrong = dlg.isVisible();
      textsAfterWrong = dlg.addressEdit()->text() + "|" + dlg.portEdit()->text() + "|" +
                        dlg.passwordEdit()->text();
      replaceText(dlg.passwordEdit(), QStringLiteral("Secret1"));
      clickOk(&dlg);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(openAfterWrong);
    QCOMPARE(textsAfterWrong, QString::fromUtf8(address) + "|0|secret1");
    QCOMPARE(recorder.messages,
             std::vector<std::string>({"当前程序运行目录下，未找到类型为CONFIG的package",
                                       "用户名和密码不对", "上传完成"}));
    ovix::ServerAddress remembered = ovix::loadRememberedServer(*ovix::Env::Default());
    QCOMPARE(remembered.address + "|" + remembered.port, address + "|0");
  }
};

QTEST_MAIN(ServerCommitDlgTest)
#include "server_commit_dlg_test.moc"
