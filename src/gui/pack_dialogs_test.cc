// The pack dialog and the version dialog driven offscreen: their fields,
// OK with good and bad input, whole pack runs into a temporary program
// directory, the progress dialog, and pictures of both dialogs.

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gui/local_package_dlg.h"
#include "gui/package_select_dlg.h"
#include "gui/qt_presenter.h"
#include "package/package_records.h"
#include "packing/version_input.h"
#include "platform/program_paths.h"
#include "testing/dialog_test_support.h"
#include "testing/recording_presenter.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::comboItems;
using ovix::testing::replaceText;
using ovix::testing::savePicture;

QStringList toQStrings(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& t : texts) list << QString::fromUtf8(t);
  return list;
}

// Calls `handle` once, with the dialog of type T when it is the active modal
// window.  Each call polls with a timer of its own, so it also fires inside
// the modal loop of a dialog that another handler opened.  The handler must
// close the dialog.  Timers that never fired die with `owner`.
template <typename T>
void whenModal(QObject* owner, std::function<void(T*)> handle) {
  auto* timer = new QTimer(owner);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, handle] {
    auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dlg == nullptr) return;
    timer->stop();
    timer->deleteLater();
    handle(dlg);
  });
  timer->start(10);
}

// The package files of a folder, by name.
std::vector<std::string> packagesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  return names;
}

bool anyMessageContains(const ovix::testing::RecordingPresenter& recorder,
                        const std::string& part) {
  for (const std::string& m : recorder.messages)
    if (m.find(part) != std::string::npos) return true;
  return false;
}

}  // namespace

class PackDialogsTest : public QObject {
  Q_OBJECT

 private:
  // A fresh program directory with the given user folders (and one file,
  // which is no user folder).
  void useProgramDirectory(const ovix::testing::TempDir& dir,
                           const std::vector<std::string>& users) {
    for (const std::string& user : users) dir.mkdir("program/" + user);
    dir.write("program/notes.txt", "x");
    ovix::fillProgramPaths(dir.path() + "/program/ovixpatch", std::nullopt);
  }

  // Any modal window still open after a test's handlers ran is closed, so
  // a missed dialog fails the test instead of hanging it.
  std::unique_ptr<QTimer> watchdog_;
  bool watchdogFired_ = false;

 private slots:
  void initTestCase() {
    setenv("TZ", "UTC", 1);
    tzset();
    registerRecordClasses();  // as the program's start-up does
  }

  void init() {
    watchdogFired_ = false;
    watchdog_ = std::make_unique<QTimer>();
    connect(watchdog_.get(), &QTimer::timeout, this, [this] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        watchdogFired_ = true;
        w->close();
      }
    });
    watchdog_->start(10000);
  }

  void cleanup() {
    watchdog_.reset();
    QVERIFY2(!watchdogFired_, "a modal window was left open");
  }

  // ---- pack dialog: fields --------------------------------------------------

  void packDialogForSoftwareKeepsItsLabelsAndListsUsersSorted() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, {"zeta", "Beta", "用户甲", "alpha"});
    COvixLocalPackage dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("OVIX打包"));
    QCOMPARE(dlg.pathLabel()->text(), QStringLiteral("OVIX安装路径"));
    QCOMPARE(dlg.subdirLabel()->text(), QStringLiteral("安装路径子目录/排除列表"));
    QCOMPARE(dlg.typesEdit()->text(), QStringLiteral("DLL,ARX,LUA,XML,CSV,INI"));
    QVERIFY(dlg.pathEdit()->text().isEmpty());
    QVERIFY(dlg.subdirEdit()->text().isEmpty());
    QVERIFY(dlg.userCombo()->isEditable());
    QCOMPARE(comboItems(dlg.userCombo()),
             QStringList({"alpha", "Beta", "zeta", QStringLiteral("用户甲")}));
    QCOMPARE(dlg.userCombo()->currentIndex(), 0);
    QCOMPARE(dlg.fields().user, std::string("alpha"));
    QCOMPARE(dlg.fields().types, std::string("DLL,ARX,LUA,XML,CSV,INI"));
    savePicture(&dlg, "pack_dialog_dll.png");
  }

  void packDialogForProjectsRelabelsAndUsesProjectTypes() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, {"设计院", "site"});
    COvixLocalPackage dlg(ovix::Env::Default());
    dlg.m_kind = "CONFIG";  // after construction, as the start-up sets it
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.pathLabel()->text(), QStringLiteral("项目路径"));
    QCOMPARE(dlg.subdirLabel()->text(), QStringLiteral("项目子路径/排除列表"));
    QCOMPARE(dlg.typesEdit()->text(), QStringLiteral("LUA,XML,CSV,INI,DWG"));
    QCOMPARE(comboItems(dlg.userCombo()), QStringList({"site", QStringLiteral("设计院")}));
    savePicture(&dlg, "pack_dialog_config.png");
  }

  void packDialogWithoutUserFoldersTakesTheTypedFieldsAsUtf8() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, {});
    COvixLocalPackage dlg(ovix::Env::Default());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.userCombo()->count(), 0);
    QVERIFY(dlg.userCombo()->currentText().isEmpty());
    QCOMPARE(dlg.fields().user, std::string());

    replaceText(dlg.userCombo()->lineEdit(), QStringLiteral("新用户"));
    replaceText(dlg.pathEdit(), QStringLiteral("/安装/ovix"));
    replaceText(dlg.subdirEdit(), QStringLiteral("排除.csv"));
    replaceText(dlg.typesEdit(), QStringLiteral("lua"));
    ovix::PackDialogFields f = dlg.fields();
    QCOMPARE(f.user, std::string("新用户"));
    QCOMPARE(f.path, std::string("/安装/ovix"));
    QCOMPARE(f.subdir, std::string("排除.csv"));
    QCOMPARE(f.types, std::string("lua"));
  }

  // ---- version dialog -------------------------------------------------------

  void versionDialogOffersTheNamesAndVersionsInOrder() {
    COvixPackageSelectDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("OVIX打包"));
    QCOMPARE(comboItems(dlg.nameCombo()), toQStrings(ovix::versionDialogNames()));
    QCOMPARE(comboItems(dlg.versionCombo()), toQStrings(ovix::versionDialogVersions()));
    QCOMPARE(dlg.nameCombo()->currentIndex(), 0);
    QCOMPARE(dlg.versionCombo()->currentIndex(), 0);
    QVERIFY(dlg.nameCombo()->isEditable());
    QVERIFY(dlg.versionCombo()->isEditable());
    QVERIFY(dlg.dateEdit()->text().isEmpty());
    savePicture(&dlg, "version_dialog.png");
  }

  void versionDialogStaysOpenOnABadDate_data() {
    QTest::addColumn<QString>("date");
    // Texts shorter than a year count as time 0 and are taken; these give
    // no time of the stored form.
    QTest::newRow("no year") << QStringLiteral("abcd");
    QTest::newRow("year 10000") << QStringLiteral("9999-13-01");
  }

  void versionDialogStaysOpenOnABadDate() {
    QFETCH(QString, date);
    ovix::testing::ScopedRecorder recorder;
    COvixPackageSelectDlg dlg;
    bool openAfterOk = false;
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.dateEdit(), date);
      clickOk(&dlg);
      openAfterOk = dlg.isVisible();
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    QVERIFY(openAfterOk);
    QCOMPARE(recorder.messages,
             std::vector<std::string>({"日期格式有错，要求为YYYY-MM-DD的格式"}));
    QVERIFY(dlg.info().name.empty());
  }

  void versionDialogReturnsTypedNameChosenVersionAndFullDate() {
    ovix::testing::ScopedRecorder recorder;
    COvixPackageSelectDlg dlg;
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.nameCombo()->lineEdit(), QStringLiteral("OVIX_自定"));
      dlg.versionCombo()->setCurrentIndex(1);
      replaceText(dlg.dateEdit(), QStringLiteral("2024-05-06"));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QVERIFY(recorder.messages.empty());
    QCOMPARE(dlg.info().name, std::string("OVIX_自定"));
    QCOMPARE(dlg.info().version, ovix::versionDialogVersions().at(1));
    QCOMPARE(dlg.info().date, std::string("2024-05-06-00-00"));
  }

  void versionDialogInProjectModeAcceptsAnEmptyDate() {
    ovix::testing::ScopedRecorder recorder;
    COvixPackageSelectDlg dlg;
    dlg.m_projectMode = true;
    QTimer::singleShot(0, &dlg, [&] {
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QVERIFY(recorder.messages.empty());
    QCOMPARE(dlg.info().name, ovix::versionDialogNames().front());
    QCOMPARE(dlg.info().date, std::string());
  }

  // ---- pack runs ----------------------------------------------------------

  void packDialogOkWritesASoftwarePackageAndCloses() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, {"userB", "userA"});
    dir.write("tree/ovixsetup.ini",
              "[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2024-01-02-03-04\n"
              "BUILDTIME=2024-02-03-04-05\n");
    dir.write("tree/bin/core.dll", "dll");
    dir.write("tree/scripts/start.lua", "print(1)");
    dir.write("tree/readme.txt", "not packed");

    ovix::testing::ScopedRecorder recorder;
    COvixLocalPackage dlg(ovix::Env::Default());
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.pathEdit(), QString::fromUtf8(dir.file("tree")));
      dlg.userCombo()->setCurrentIndex(dlg.userCombo()->findText("userA"));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));

    std::vector<std::string> written = packagesIn(dir.file("program/userA"));
    QCOMPARE(written.size(), size_t(1));
    QVERIFY(written[0].starts_with("userA_软件补丁数据包_"));
    QVERIFY(written[0].ends_with(".package"));
    QVERIFY(packagesIn(dir.file("program/userB")).empty());
    QVERIFY(anyMessageContains(recorder, "打包完成"));
    QVERIFY(anyMessageContains(recorder, "OVIX_TARNO"));
  }

  void packDialogOkForAProjectAsksVersionAndTargetProject() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, {"site"});
    std::string info = dir.write("program/P1.ini", "[PatchProject]\nGUID={P-1}\nNAME=一号装置\n");
    dir.write("project/data/pipes.xml", "<x/>");
    dir.write("project/run.lua", "print(2)");

    ovix::testing::ScopedRecorder recorder;
    COvixLocalPackage dlg(ovix::Env::Default());
    dlg.m_kind = "CONFIG";
    bool versionInProjectMode = false;
    QWidget* versionParent = nullptr;
    QString fileTitle, fileDirectory;
    QStringList fileFilters;
    whenModal<COvixPackageSelectDlg>(&dlg, [&](COvixPackageSelectDlg* version) {
      versionInProjectMode = version->m_projectMode;
      versionParent = version->parentWidget();
      clickOk(version);  // empty date
      if (version->isVisible()) version->reject();
    });
    whenModal<QFileDialog>(&dlg, [&](QFileDialog* files) {
      fileTitle = files->windowTitle();
      fileDirectory = files->directory().absolutePath();
      fileFilters = files->nameFilters();
      // Typed as a full path: the list of the directory may still be loading.
      if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        replaceText(name, QString::fromUtf8(info));
      static_cast<QDialog*>(files)->accept();  // the Open button
      if (files->isVisible()) files->reject();
    });
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.pathEdit(), QString::fromUtf8(dir.file("project")));
      clickOk(&dlg);
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));

    QVERIFY(versionInProjectMode);
    QCOMPARE(versionParent, static_cast<QWidget*>(&dlg));
    QCOMPARE(fileTitle, QStringLiteral("请选择特定项目配置文件"));
    QCOMPARE(fileDirectory, QString::fromUtf8(ovix::programDirectory));
    QCOMPARE(fileFilters, QStringList({"INI Files (*.INI *.ini)"}));
    std::vector<std::string> written = packagesIn(dir.file("program/site"));
    QCOMPARE(written.size(), size_t(1));
    QVERIFY(written[0].starts_with("site_项目补丁数据包_"));
    QVERIFY(anyMessageContains(recorder, "项目名称：一号装置"));
    QVERIFY(anyMessageContains(recorder, "{P-1}"));
  }

  void packDialogOkWithoutFilesStaysOpenWithTheFieldsAsTyped() {
    ovix::testing::TempDir dir;
    useProgramDirectory(dir, {"userA"});
    ovix::testing::ScopedRecorder recorder;
    COvixLocalPackage dlg(ovix::Env::Default());
    // Without a setup file the job asks for the version first.
    bool versionAsked = false;
    whenModal<COvixPackageSelectDlg>(&dlg, [&](COvixPackageSelectDlg* version) {
      versionAsked = !version->m_projectMode;
      replaceText(version->dateEdit(), QStringLiteral("2024-05-06"));
      clickOk(version);
      if (version->isVisible()) version->reject();
    });
    bool openAfterOk = false;
    QString typesAfterOk;
    QTimer::singleShot(0, &dlg, [&] {
      replaceText(dlg.typesEdit(), QStringLiteral("LUA"));
      clickOk(&dlg);
      openAfterOk = dlg.isVisible();
      typesAfterOk = dlg.typesEdit()->text();
      if (dlg.isVisible()) dlg.reject();
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));

    QVERIFY(versionAsked);
    QVERIFY(openAfterOk);
    QCOMPARE(typesAfterOk, QStringLiteral("LUA"));
    QVERIFY(anyMessageContains(recorder, "路径下无文件："));
    QVERIFY(packagesIn(dir.file("program/userA")).empty());
  }

  // ---- progress ---------------------------------------------------------------

  void progressDialogFollowsTheWorkAndReportsCancel() {
    QtPresenter presenter;
    auto shownDialog = []() -> QProgressDialog* {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible()) return p;
      return nullptr;
    };

    QVERIFY(presenter.progress("打包", 0, 0));  // unknown total: no dialog
    QVERIFY(shownDialog() == nullptr);

    QVERIFY(presenter.progress("打包", 0, 3));
    QPointer<QProgressDialog> shown = shownDialog();
    QVERIFY(shown);
    QCOMPARE(shown->windowModality(), Qt::ApplicationModal);
    QCOMPARE(shown->windowTitle(), QApplication::applicationDisplayName());
    QCOMPARE(shown->labelText(), QStringLiteral("打包…"));
    QPushButton* cancel = shown->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("取消"));
    QVERIFY(presenter.progress("打包", 1, 3));
    QVERIFY(shownDialog() == shown);

    cancel->click();
    QVERIFY(!presenter.progress("打包", 2, 3));
    QVERIFY(shownDialog() == nullptr);
    QVERIFY(!presenter.progress("打包", 2, 3));  // stays cancelled

    QVERIFY(presenter.progress("打包", 0, 2));  // new work
    QVERIFY(shownDialog() != nullptr);
    QVERIFY(presenter.progress("打包", 2, 2));
    QVERIFY(shownDialog() == nullptr);
  }
};

QTEST_MAIN(PackDialogsTest)
#include "pack_dialogs_test.moc"
