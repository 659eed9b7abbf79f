// The project information dialog driven offscreen against an embedded
// store: the remembered server, the project list and its refilling when an
// edit loses focus, and OK writing the project information file.

#include <QComboBox>
#include <QLineEdit>
#include <QtTest>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "gui/project_info_dlg.h"
#include "package/package_records.h"
#include "platform/zeda_system.h"
#include "testing/dialog_test_support.h"

namespace {

using ovix::testing::clickOk;
using ovix::testing::comboItems;
using ovix::testing::execDoing;
using ovix::testing::replaceText;
using ovix::testing::runSql;
using ovix::testing::savePicture;
using ovix::testing::ScopedRecorder;
using ovix::testing::showExposed;
using ovix::testing::TempDir;
using ovix::testing::typeText;
using ovix::testing::useProgramDirectory;

const QStringList kProjects{QStringLiteral("南京化工"), QStringLiteral("Alpha"),
                            QStringLiteral("北京炼化")};
constexpr char kProjectTable[] =
    "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);";

std::string guidIn(const std::string& path) {
  ovix::IniFile ini;
  char const* value =
      ini.load(*ovix::Env::Default(), path) ? ini.getValue("PatchProject", "GUID") : nullptr;
  return value != nullptr ? value : "<none>";
}

// A server directory whose general database holds three projects, not in
// alphabetical order, and a program directory that remembers the server
// with `port` when it is given; the server's address.
std::string prepareServer(const TempDir& dir, const char* port = nullptr) {
  std::string address = "file:" + dir.mkdir("服务器");
  runSql(
      dir.file("服务器/ovixgeneral.sqlite"),
      (std::string(kProjectTable) + "INSERT INTO ZedaProject VALUES ('南京化工','{GUID-NJ}','A');"
                                    "INSERT INTO ZedaProject VALUES ('Alpha','{GUID-ALPHA}','B');"
                                    "INSERT INTO ZedaProject VALUES ('北京炼化','{GUID-BJ}','C');")
          .c_str());
  std::string settings = "[MySqlServer]\nIP=" + address + "\n";
  if (port != nullptr) settings += "PORT=" + std::string(port) + "\n";
  useProgramDirectory(dir, "ovixpatch_upload.ini", settings);
  return address;
}

}  // namespace

class ProjectInfoDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    registerRecordClasses();  // as the program's start-up does
    ZedaSystem::setProjectDbtype(2);
  }

  // The projects come in row order and none is chosen for the user.
  void rememberedServerListsProjectsInRowOrder() {
    TempDir dir;
    prepareServer(dir, "0");
    COvixProjectInfo dlg(ovix::Env::Default());
    QVERIFY(showExposed(&dlg));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("0"));
    QCOMPARE(comboItems(dlg.projectCombo()), kProjects);
    QVERIFY(dlg.projectCombo()->currentText().isEmpty());
    QVERIFY(dlg.projectCombo()->lineEdit()->placeholderText().isEmpty());
    dlg.projectCombo()->setCurrentIndex(2);
    savePicture(&dlg, "project_info_dialog.png");
  }

  void focusLeavingAnEditRefillsTheListAndKeepsTheTypedName() {
    TempDir dir;
    std::string address = prepareServer(dir);
    COvixProjectInfo dlg(ovix::Env::Default());
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QLineEdit* projectEdit = dlg.projectCombo()->lineEdit();
    // A remembered server without a port: nothing to list yet, nothing to
    // point out.
    QCOMPARE(dlg.addressEdit()->text(), QString::fromUtf8(address));
    QCOMPARE(dlg.projectCombo()->count(), 0);
    replaceText(projectEdit, QStringLiteral("北京炼化"));
    dlg.portEdit()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QVERIFY(projectEdit->placeholderText().isEmpty());

    typeText(dlg.portEdit(), QStringLiteral("0"));
    dlg.projectCombo()->setFocus();
    QCOMPARE(comboItems(dlg.projectCombo()), kProjects);
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("北京炼化"));
    QCOMPARE(dlg.projectCombo()->currentIndex(), 2);

    // A server without a general database: an empty list and a hint.
    replaceText(projectEdit, QStringLiteral("新项目"));
    replaceText(dlg.addressEdit(), QString::fromUtf8("file:" + dir.mkdir("空")));
    dlg.projectCombo()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 0);
    QCOMPARE(projectEdit->placeholderText(), QStringLiteral("未能列出服务器上的项目"));
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("新项目"));

    // Leaving an unchanged edit lists again: the server may have changed.
    runSql(dir.file("空/ovixgeneral.sqlite"),
           (std::string(kProjectTable) + "INSERT INTO ZedaProject VALUES ('新项目','{N}','');")
               .c_str());
    dlg.portEdit()->setFocus();
    dlg.projectCombo()->setFocus();
    QCOMPARE(comboItems(dlg.projectCombo()), QStringList({QStringLiteral("新项目")}));
    QVERIFY(projectEdit->placeholderText().isEmpty());
    QCOMPARE(dlg.projectCombo()->currentText(), QStringLiteral("新项目"));

    // An edit's context menu takes the focus only for a moment.
    runSql(dir.file("空/ovixgeneral.sqlite"), "INSERT INTO ZedaProject VALUES ('第二','{2}','');");
    QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(dlg.portEdit(), &toMenu);
    QCOMPARE(dlg.projectCombo()->count(), 1);
    dlg.portEdit()->setFocus();
    dlg.addressEdit()->setFocus();
    QCOMPARE(dlg.projectCombo()->count(), 2);
  }

  // What the file keeps and how names reach the server is the core's and
  // tested there; here the dialog hands over the typed name and closes only
  // on success.
  void okWritesTheFileOfTheTypedProjectAndClosesOnlyThen() {
    TempDir dir;
    prepareServer(dir, "0");
    const std::string file = dir.file("program/北京炼化.ini");
    ScopedRecorder recorder;
    COvixProjectInfo dlg(ovix::Env::Default());
    bool openAfterUnknown = false;
    int result = execDoing(&dlg, [&] {
      replaceText(dlg.projectCombo()->lineEdit(), QStringLiteral("不存在的项目"));
      clickOk(&dlg);
      openAfterUnknown = dlg.isVisible();
      replaceText(dlg.projectCombo()->lineEdit(), QStringLiteral("北京炼化"));
      clickOk(&dlg);
    });
    QCOMPARE(result, int(QDialog::Accepted));

    QVERIFY(openAfterUnknown);
    QCOMPARE(recorder.messages, std::vector<std::string>(
                                    {"未成功查询到项目信息：不存在的项目",
                                     "生成项目信息文件成功，请发给软件开发商！\n文件名：" + file}));
    QCOMPARE(guidIn(file), std::string("{GUID-BJ}"));
  }
};

QTEST_MAIN(ProjectInfoDlgTest)
#include "project_info_dlg_test.moc"
