// The upload dialog driven offscreen: its fields, the remembered server,
// and whole uploads into an embedded store, with a picture of the dialog.

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/server_commit_dlg.h"
#include "jobs/pack_job.h"
#include "jobs/server_commit.h"
#include "package/package_records.h"
#include "testing/dialog_test_support.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::queryRows;
using ovix::testing::replaceText;
using ovix::testing::runSql;
using ovix::testing::savePicture;
using ovix::testing::useProgramDirectory;

// The pack job never asks here: the tree has its setup file.
class NoQuestionsPackUi final : public ovix::PackJobUi {
 public:
  bool askVersion(bool, ovix::VersionInfo*) override { return false; }
  bool chooseProjectInfoFile(const std::string&, std::string*) override { return false; }
};

}  // namespace

class ServerCommitDlgTest : public QObject {
  Q_OBJECT

 private:
  // A server directory with the administrator "system"/"Secret1", and one
  // software package directly in the program directory.  Sets address_.
  void prepareServerAndPackage(const ovix::testing::TempDir& dir) {
    std::string program = useProgramDirectory(dir);
    // A non-ASCII directory: the address must reach the core as UTF-8.
    std::string server = dir.mkdir("服务器");
    address_ = "file:" + server;
    QCOMPARE(runSql(server + "/ovixgeneral.sqlite",
                    "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);"
                    "INSERT INTO ZedaUser VALUES ('system','Secret1');"),
             std::string());

    dir.write("tree/ovixsetup.ini",
              "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\n"
              "BUILDTIME=2026-12-01\n");
    dir.write("tree/bin/core.dll", "dll");
    dir.mkdir("program/userA");
    ovix::PackDialogFields fields{"userA", dir.file("tree"), "", ovix::defaultFileTypes("DLL")};
    NoQuestionsPackUi packUi;
    std::string packed;
    {
      ovix::testing::ScopedRecorder packMessages;  // keeps the pack report quiet
      QVERIFY(ovix::packDialogOk(*ovix::Env::Default(), fields, "DLL", packUi, &packed));
    }
    fs::path from(packed);
    fs::rename(from, fs::path(program) / from.filename());
  }

  std::string address_;

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
  }

  // ---- fields ---------------------------------------------------------------

  void dialogShowsRememberedServerAndHidesThePassword() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, "ovixpatch_upload.ini",
                        "[MySqlServer]\nIP=192.168.10.20\nPORT=3307\n");
    COvixServerCommitDlg dlg(ovix::Env::Default());
    QCOMPARE(dlg.packageKind(), std::string("DLL"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("提交版本至服务器"));
    QCOMPARE(dlg.addressEdit()->text(), QStringLiteral("192.168.10.20"));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3307"));
    QVERIFY(dlg.passwordEdit()->text().isEmpty());
    QCOMPARE(dlg.passwordEdit()->echoMode(), QLineEdit::Password);
    QPushButton* ok = dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    QVERIFY(ok->isDefault());

    replaceText(dlg.passwordEdit(), QStringLiteral("Secret1"));
    QVERIFY(!dlg.passwordEdit()->displayText().contains(QStringLiteral("Secret1")));
    savePicture(&dlg, "upload_dialog.png");

    // Showing again keeps what was typed.
    replaceText(dlg.addressEdit(), QStringLiteral("10.0.0.1"));
    dlg.hide();
    dlg.show();
    QCOMPARE(dlg.addressEdit()->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3307"));
  }

  void dialogWithoutSettingsFileStartsEmpty() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir);
    COvixServerCommitDlg dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.addressEdit()->text().isEmpty());
    QVERIFY(dlg.portEdit()->text().isEmpty());
    QVERIFY(dlg.passwordEdit()->text().isEmpty());
  }

  // ---- uploads ----------------------------------------------------------------

  void wrongPasswordKeepsTheDialogThenTheRightOneUploads() {
    ovix::testing::TempDir dir;
    prepareServerAndPackage(dir);
    if (QTest::currentTestFailed()) return;
    const std::string store = dir.file("服务器/ovixinstallpatch.sqlite");
    const std::string settings = dir.file("program/ovixpatch_upload.ini");

    ovix::testing::ScopedRecorder recorder;
    COvixServerCommitDlg dlg(ovix::Env::Default());
    bool openAfterWrong = false;
    bool storeAfterWrong = true, settingsAfterWrong = true;
    QString addressAfterWrong, portAfterWrong, passwordAfterWrong;
    std::vector<std::string> messagesAfterWrong;
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.addressEdit(), QString::fromUtf8(address_));
      replaceText(dlg.portEdit(), QStringLiteral("0"));
      replaceText(dlg.passwordEdit(), QStringLiteral("secret1"));
      clickOk(&dlg);
      openAfterWrong = dlg.isVisible();
      addressAfterWrong = dlg.addressEdit()->text();
      portAfterWrong = dlg.portEdit()->text();
      passwordAfterWrong = dlg.passwordEdit()->text();
      messagesAfterWrong = recorder.messages;
      storeAfterWrong = fs::exists(fs::path(store));
      settingsAfterWrong = fs::exists(fs::path(settings));

      replaceText(dlg.passwordEdit(), QStringLiteral("Secret1"));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));

    QVERIFY(openAfterWrong);
    QCOMPARE(addressAfterWrong, QString::fromUtf8(address_));
    QCOMPARE(portAfterWrong, QStringLiteral("0"));
    QCOMPARE(passwordAfterWrong, QStringLiteral("secret1"));
    QCOMPARE(messagesAfterWrong, std::vector<std::string>({"用户名和密码不对"}));
    QVERIFY(!storeAfterWrong);
    QVERIFY(!settingsAfterWrong);

    QCOMPARE(recorder.messages.back(), std::string("上传完成"));
    QCOMPARE(queryRows(store, "SELECT m_name, m_ver, m_type FROM OVIXPackageInfo"),
             std::vector<std::string>({"OVIX_TARNO|V3|DLL"}));
    ovix::ServerAddress remembered = ovix::loadRememberedServer(*ovix::Env::Default());
    QCOMPARE(remembered.address, address_);
    QCOMPARE(remembered.port, std::string("0"));
  }

  void projectKindDoesNotUploadASoftwarePackage() {
    ovix::testing::TempDir dir;
    prepareServerAndPackage(dir);
    if (QTest::currentTestFailed()) return;

    ovix::testing::ScopedRecorder recorder;
    COvixServerCommitDlg dlg(ovix::Env::Default());
    dlg.setPackageKind("CONFIG");
    bool openAfterOk = false;
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.addressEdit(), QString::fromUtf8(address_));
      replaceText(dlg.portEdit(), QStringLiteral("0"));
      replaceText(dlg.passwordEdit(), QStringLiteral("Secret1"));
      clickOk(&dlg);
      openAfterOk = dlg.isVisible();
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));

    QVERIFY(openAfterOk);
    QCOMPARE(recorder.messages,
             std::vector<std::string>({"当前程序运行目录下，未找到类型为CONFIG的package"}));
    QVERIFY(!fs::exists(fs::path(dir.file("服务器/ovixinstallpatch.sqlite"))));
    QVERIFY(!fs::exists(fs::path(dir.file("program/ovixpatch_upload.ini"))));
  }
};

QTEST_MAIN(ServerCommitDlgTest)
#include "server_commit_dlg_test.moc"
