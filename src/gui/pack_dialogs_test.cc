// The pack dialog and the version dialog driven offscreen: their fields,
// OK with good and bad input, whole pack runs into a temporary program
// directory, the progress dialog, and pictures of both dialogs.

#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
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

namespace {

namespace fs = std::filesystem;
using ovix::testing::clickOk;
using ovix::testing::comboItems;
using ovix::testing::execDoing;
using ovix::testing::replaceText;
using ovix::testing::savePicture;
using ovix::testing::showExposed;

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

// A fresh program directory with the given user folders and one file,
// which is no user folder.
void useProgramDirectoryWithUsers(const ovix::testing::TempDir& dir,
                                  const std::vector<std::string>& users) {
  for (const std::string& user : users) dir.mkdir("program/" + user);
  ovix::testing::useProgramDirectory(dir, "notes.txt", "x");
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

  void packDialogListsUsersSortedAndHandsOverTheTypedFieldsAsUtf8() {
    ovix::testing::TempDir dir;
    useProgramDirectoryWithUsers(dir, {"zeta", "Beta", "用户甲", "alpha"});
    COvixLocalPackage dlg(ovix::Env::Default());
    QVERIFY(showExposed(&dlg));
    QCOMPARE(comboItems(dlg.userCombo()),
             QStringList({"alpha", "Beta", "zeta", QStringLiteral("用户甲")}));
    QCOMPARE(dlg.fields().user, std::string("alpha"));
    savePicture(&dlg, "pack_dialog_dll.png");

    replaceText(dlg.userCombo()->lineEdit(), QStringLiteral("新用户"));
    replaceText(dlg.pathEdit(), QStringLiteral("/安装/ovix"));
    replaceText(dlg.subdirEdit(), QStringLiteral("排除.csv"));
    replaceText(dlg.typesEdit(), QStringLiteral("lua"));
    ovix::PackDialogFields f = dlg.fields();
    QCOMPARE(f.user + "|" + f.path + "|" + f.subdir + "|" + f.types,
             std::string("新用户|/安装/ovix|排除.csv|lua"));
  }

  // The names and versions come in order; a bad date keeps the dialog open;
  // the typed name, the chosen version and the full date are handed back.
  void versionDialogOffersTheListsStaysOpenOnABadDateAndReturnsTheTypedValues() {
    ovix::testing::ScopedRecorder recorder;
    COvixPackageSelectDlg dlg;
    QCOMPARE(comboItems(dlg.nameCombo()), toQStrings(ovix::versionDialogNames()));
    QCOMPARE(comboItems(dlg.versionCombo()), toQStrings(ovix::versionDialogVersions()));
    bool openAfterBadDate = false;
    int result = execDoing(&dlg, [&] {
      savePicture(&dlg, "version_dialog.png");
      replaceText(dlg.nameCombo()->lineEdit(), QStringLiteral("OVIX_自定"));
      dlg.versionCombo()->setCurrentIndex(1);
      replaceText(dlg.dateEdit(), QStringLiteral("9999-13-01"));
      clickOk(&dlg);
      openAfterBadDate = dlg.isVisible();
      replaceText(dlg.dateEdit(), QStringLiteral("2024-05-06"));
      clickOk(&dlg);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(openAfterBadDate);
    QCOMPARE(recorder.messages, std::vector<std::string>({"日期格式有错，要求为YYYY-MM-DD的格式"}));
    QCOMPARE(dlg.info().name, std::string("OVIX_自定"));
    QCOMPARE(dlg.info().version, ovix::versionDialogVersions().at(1));
    QCOMPARE(dlg.info().date, std::string("2024-05-06-00-00"));
  }

  void packDialogOkWritesASoftwarePackageAndCloses() {
    ovix::testing::TempDir dir;
    useProgramDirectoryWithUsers(dir, {"userB", "userA"});
    dir.write("tree/ovixsetup.ini", ovix::testing::kSetup);
    dir.write("tree/bin/core.dll", "dll");

    ovix::testing::ScopedRecorder recorder;
    COvixLocalPackage dlg(ovix::Env::Default());
    int result = execDoing(&dlg, [&] {
      replaceText(dlg.pathEdit(), QString::fromUtf8(dir.file("tree")));
      dlg.userCombo()->setCurrentIndex(dlg.userCombo()->findText("userA"));
      clickOk(&dlg);
    });
    QCOMPARE(result, int(QDialog::Accepted));

    QCOMPARE(packagesIn(dir.file("program/userA")).size(), size_t(1));
    QVERIFY(packagesIn(dir.file("program/userB")).empty());
    QVERIFY(anyMessageContains(recorder, "打包完成"));
  }

  // The dialog is relabelled with the project types; the version dialog opens
  // in project mode and takes an empty date; the file dialog names the target.
  void packDialogForAProjectAsksVersionAndTargetProject() {
    ovix::testing::TempDir dir;
    useProgramDirectoryWithUsers(dir, {"site"});
    std::string info = dir.write("program/P1.ini", "[PatchProject]\nGUID={P-1}\nNAME=一号装置\n");
    dir.write("project/data/pipes.xml", "<x/>");

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
      clickOk(version);
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
    int result = execDoing(&dlg, [&] {
      savePicture(&dlg, "pack_dialog_config.png");
      replaceText(dlg.pathEdit(), QString::fromUtf8(dir.file("project")));
      clickOk(&dlg);
    });
    QCOMPARE(result, int(QDialog::Accepted));

    QCOMPARE(dlg.pathLabel()->text(), QStringLiteral("项目路径"));
    QCOMPARE(dlg.typesEdit()->text(), QStringLiteral("LUA,XML,CSV,INI,DWG"));
    QVERIFY(versionInProjectMode);
    QCOMPARE(versionParent, static_cast<QWidget*>(&dlg));
    QCOMPARE(fileTitle, QStringLiteral("请选择特定项目配置文件"));
    QCOMPARE(fileDirectory, QString::fromUtf8(ovix::programDirectory));
    QCOMPARE(fileFilters, QStringList({"INI Files (*.INI *.ini)"}));
    QCOMPARE(packagesIn(dir.file("program/site")).size(), size_t(1));
    QVERIFY(anyMessageContains(recorder, "项目名称：一号装置"));
  }

  // Without a setup file the job asks for the version first.
  void packDialogOkWithoutFilesStaysOpenWithTheFieldsAsTyped() {
    ovix::testing::TempDir dir;
    useProgramDirectoryWithUsers(dir, {"userA"});
    ovix::testing::ScopedRecorder recorder;
    COvixLocalPackage dlg(ovix::Env::Default());
    bool versionAsked = false;
    whenModal<COvixPackageSelectDlg>(&dlg, [&](COvixPackageSelectDlg* version) {
      versionAsked = !version->m_projectMode;
      replaceText(version->dateEdit(), QStringLiteral("2024-05-06"));
      clickOk(version);
      if (version->isVisible()) version->reject();
    });
    int result = execDoing(&dlg, [&] {
      replaceText(dlg.typesEdit(), QStringLiteral("LUA"));
      clickOk(&dlg);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(versionAsked);
    QCOMPARE(dlg.typesEdit()->text(), QStringLiteral("LUA"));
    QVERIFY(anyMessageContains(recorder, "路径下无文件："));
    QVERIFY(packagesIn(dir.file("program/userA")).empty());
  }

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
    QCOMPARE(shown->labelText(), QStringLiteral("打包…"));
    QVERIFY(presenter.progress("打包", 1, 3));
    QVERIFY(shownDialog() == shown);

    shown->findChild<QPushButton*>()->click();
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
