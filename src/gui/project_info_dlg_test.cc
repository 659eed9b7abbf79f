// The project information dialog driven offscreen against an embedded
// store: the remembered server, the project list and its refilling when an
// edit loses focus, and OK writing the project information file.

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "gui/project_info_dlg.h"
#include "package/package_records.h"
#include "platform/zeda_system.h"
#include "testing/dialog_test_support.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::comboItems;
using ovix::testing::replaceText;
using ovix::testing::runSql;
using ovix::testing::savePicture;
using ovix::testing::typeText;
using ovix::testing::useProgramDirectory;

constexpr char kUploadSettings[] = "ovixpatch_upload.ini";
const QString kNotListedHint = QStringLiteral("未能列出服务器上的项目");

std::string iniValue(const std::string& path, const char* section, const char* key) {
  ovix::IniFile ini;
  if (!ini.load(*ovix::Env::Default(), path)) return "<no file>";
  char const* value = ini.getValue(section, key);
  return value != nullptr ? value : "<none>";
}

}  // namespace

class ProjectInfoDlgTest : public QObject {
  Q_OBJECT

 private:
  // A server directory whose general database holds three projects, not
  // in alphabetical order.  Sets address_.
  void prepareServer(const ovix::testing::TempDir& dir) {
    std::string server = dir.mkdir("服务器");
    address_ = "file:" + server;
    QCOMPARE(runSql(server + "/ovixgeneral.sqlite",
                    "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);"
                    "INSERT INTO ZedaProject VALUES ('南京化工','{GUID-NJ}','A');"
                    "INSERT INTO ZedaProject VALUES ('Alpha','{GUID-ALPHA}','B');"
                    "INSERT INTO ZedaProject VALUES ('北京炼化','{GUID-BJ}','C');"),
             std::string());
  }

  static void showActive(QDialog* dlg) {
    dlg->show();
    dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dlg));
  }

  std::string address_;
  const QStringList projects_{QStringLiteral("南京化工"), QStringLiteral("Alpha"),
                              QStringLiteral("北京炼化")};

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
    ZedaSystem::setProjectDbtype(2);
  }

  // ---- the list ---------------------------------------------------------------

  void rememberedAddressWithoutPortListsNothing() {
    ovix::testing::TempDir dir;
    prepareServer(dir);
    useProgramDirectory(dir, kUploadSettings, "[MySqlServer]\nIP=" + address_ + "\n");
    COvixProjectInfo dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("OVIX打包"));
    QCOMPARE(dlg.addressEdit()->text(), QString::fromUtf8(address_));
    QVERIFY(dlg.portEdit()->text().isEmpty());
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QVERIFY(dlg.projectCombo()->lineEdit()->placeholderText().isEmpty());
  }

  void rememberedServerListsProjectsInRowOrder() {
    ovix::testing::TempDir dir;
    prepareServer(dir);
    useProgramDirectory(dir, kUploadSettings, "[MySqlServer]\nIP=" + address_ + "\nPORT=0\n");
    COvixProjectInfo dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("0"));
    QCOMPARE(comboItems(dlg.projectCombo()), projects_);
    // Nothing is chosen for the user.
    QVERIFY(dlg.projectCombo()->currentText().isEmpty());
    QVERIFY(dlg.projectCombo()->lineEdit()->placeholderText().isEmpty());

    dlg.projectCombo()->setCurrentIndex(2);
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("北京炼化"));
    savePicture(&dlg, "project_info_dialog.png");
  }

  void focusLeavingAnEditRefillsTheListAndKeepsTheTypedName() {
    ovix::testing::TempDir dir;
    prepareServer(dir);
    useProgramDirectory(dir);
    COvixProjectInfo dlg(ovix::Env::Default());
    showActive(&dlg);
    if (QTest::currentTestFailed()) return;
    QLineEdit* projectEdit = dlg.projectCombo()->lineEdit();
    QCOMPARE(dlg.projectCombo()->count(), 0);

    replaceText(projectEdit, QStringLiteral("北京炼化"));
    // No port yet: nothing to list and nothing to point out.
    replaceText(dlg.addressEdit(), QString::fromUtf8(address_));
    dlg.portEdit()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QVERIFY(projectEdit->placeholderText().isEmpty());

    typeText(dlg.portEdit(), QStringLiteral("0"));
    dlg.projectCombo()->setFocus();
    QCOMPARE(comboItems(dlg.projectCombo()), projects_);
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("北京炼化"));
    QCOMPARE(dlg.projectCombo()->currentIndex(), 2);

    // A server without a general database: an empty list and a hint.
    replaceText(projectEdit, QStringLiteral("新项目"));
    replaceText(dlg.addressEdit(), QString::fromUtf8("file:" + dir.mkdir("空")));
    dlg.projectCombo()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QCOMPARE(projectEdit->placeholderText(), kNotListedHint);
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("新项目"));

    // Leaving an unchanged edit lists again: the server may have changed.
    QCOMPARE(runSql(dir.file("空/ovixgeneral.sqlite"),
                    "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);"
                    "INSERT INTO ZedaProject VALUES ('新项目','{GUID-NEW}','');"),
             std::string());
    dlg.portEdit()->setFocus();
    dlg.projectCombo()->setFocus();
    QCOMPARE(comboItems(dlg.projectCombo()), QStringList({QStringLiteral("新项目")}));
    QVERIFY(projectEdit->placeholderText().isEmpty());
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("新项目"));

    // An edit's context menu takes the focus only for a moment.
    QCOMPARE(runSql(dir.file("空/ovixgeneral.sqlite"),
                    "INSERT INTO ZedaProject VALUES ('第二项目','{GUID-2}','');"),
             std::string());
    QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(dlg.portEdit(), &toMenu);
    QCOMPARE(dlg.projectCombo()->count(), 1);
    dlg.portEdit()->setFocus();
    dlg.addressEdit()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 2);
  }

  // ---- OK ---------------------------------------------------------------------

  // What the file keeps and how names reach the server is the core's and
  // tested there; here the dialog hands over its texts and closes only on
  // success.
  void okWritesTheFileOfThePickedProjectAndCloses() {
    ovix::testing::TempDir dir;
    prepareServer(dir);
    const std::string program =
        useProgramDirectory(dir, kUploadSettings, "[MySqlServer]\nIP=" + address_ + "\nPORT=0\n");
    const std::string file = program + "/北京炼化.ini";

    ovix::testing::ScopedRecorder recorder;
    COvixProjectInfo dlg(ovix::Env::Default());
    QTimer::singleShot(0, &dlg, [&] {
      dlg.projectCombo()->setCurrentIndex(dlg.projectCombo()->findText(QStringLiteral("北京炼化")));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));

    QCOMPARE(recorder.messages,
             std::vector<std::string>({"生成项目信息文件成功，请发给软件开发商！\n文件名：" + file}));
    QCOMPARE(iniValue(file, "PatchProject", "GUID"), std::string("{GUID-BJ}"));
    QCOMPARE(iniValue(file, "PatchProject", "NAME"), std::string("北京炼化"));
  }

  void anUnknownNameKeepsTheDialogOpenAndATypedOneIsFound() {
    ovix::testing::TempDir dir;
    prepareServer(dir);
    const std::string program =
        useProgramDirectory(dir, kUploadSettings, "[MySqlServer]\nIP=" + address_ + "\nPORT=0\n");

    ovix::testing::ScopedRecorder recorder;
    COvixProjectInfo dlg(ovix::Env::Default());
    bool openAfterUnknown = false;
    QTimer::singleShot(0, &dlg, [&] {
      QLineEdit* projectEdit = dlg.projectCombo()->lineEdit();
      replaceText(projectEdit, QStringLiteral("不存在的项目"));
      clickOk(&dlg);
      openAfterUnknown = dlg.isVisible();
      // A listed name typed rather than picked is found all the same.
      replaceText(projectEdit, QStringLiteral("Alpha"));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));

    QVERIFY(openAfterUnknown);
    QCOMPARE(recorder.messages.front(), std::string("未成功查询到项目信息：不存在的项目"));
    QVERIFY(!fs::exists(fs::path(program) / "不存在的项目.ini"));
    QCOMPARE(iniValue(program + "/Alpha.ini", "PatchProject", "GUID"), std::string("{GUID-ALPHA}"));
  }
};

QTEST_MAIN(ProjectInfoDlgTest)
#include "project_info_dlg_test.moc"
