// The dialog program as a whole: the command line it matches, started as its
// own process; the window titles the window system shows; the message boxes
// that stay on top.

#include <qpa/qplatformwindow.h>

#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>

#include "gui/dialog_program.h"
#include "gui/local_package_dlg.h"
#include "gui/package_select_dlg.h"
#include "gui/project_info_dlg.h"
#include "gui/qt_presenter.h"
#include "gui/server_commit_dlg.h"
#include "gui/text_edit_dlg.h"
#include "gui/update_patch_dlg.h"
#include "testing/temp_dir.h"

namespace {

// Runs the dialog program with `arguments` in an installation of its own
// below `dir`; the run log's text, or "" when the program did not end by
// itself (it opened a dialog).
std::string runDialogProgram(const ovix::testing::TempDir& dir, const QStringList& arguments) {
  dir.mkdir("temp");
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("OVIX_ROOT"), QString::fromStdString(dir.path()));
  env.insert(QStringLiteral("OVIX_HOME"), QString::fromStdString(dir.mkdir("home")));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(OVIX_SERVER_COMMIT_BINARY), arguments);
  if (!program.waitForFinished(30000)) {
    program.kill();
    program.waitForFinished();
    return {};
  }
  return dir.read("temp/autoPatchLog.txt");
}

// Qt's formatting of the title that a platform window hands to the window
// system.
class PlatformTitle : public QPlatformWindow {
 public:
  using QPlatformWindow::formatWindowTitle;
};

// The title the window system shows for `widget`: its window's title as the
// platform formats it (X11 and Wayland join the application's display name
// with an em dash).
QString shownTitle(QWidget* widget) {
  widget->winId();  // creates the platform window without showing it
  return PlatformTitle::formatWindowTitle(widget->windowHandle()->title(),
                                          QString::fromUtf8(" \u2014 "));
}

// The window flags of the message box that `ask` opens; the box is answered
// no.
Qt::WindowFlags flagsOfBox(const std::function<void()>& ask) {
  Qt::WindowFlags flags;
  QTimer::singleShot(0, [&flags] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      flags = box->windowFlags();
      box->buttons().last()->click();
    }
  });
  ask();
  return flags;
}

}  // namespace

class DialogProgramTest : public QObject {
  Q_OBJECT

 private slots:
  // Qt's own options are part of the command line: with them no switch
  // matches, so no dialog opens, and the run log holds the line unchanged.
  void qtOptionsStayInTheCommandLine() {
    const QStringList cases[] = {
        {QStringLiteral("-pack"), QStringLiteral("-reverse")},
        {QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("-upload")},
    };
    for (const QStringList& arguments : cases) {
      ovix::testing::TempDir dir;
      std::string log = runDialogProgram(dir, arguments);
      std::string line = "\n" + arguments.join(QLatin1Char(' ')).toStdString() + "\t[";
      QVERIFY2(log.find(line) != std::string::npos, log.c_str());
    }
  }

  void windowTitlesAreExactlyTheCaptions() {
    setUpDialogApplication();
    ovix::Env* env = ovix::Env::Default();
    CZedaTextEditDlg viewer;
    viewer.m_title = QStringLiteral("日志记录");
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(shownTitle(&viewer), QStringLiteral("日志记录"));

    struct Case {
      std::unique_ptr<QWidget> dialog;
      QString caption;
    };
    Case cases[] = {
        {std::make_unique<COvixLocalPackage>(env), QStringLiteral("OVIX打包")},
        {std::make_unique<COvixPackageSelectDlg>(), QStringLiteral("OVIX打包")},
        {std::make_unique<COvixProjectInfo>(env), QStringLiteral("OVIX打包")},
        {std::make_unique<COvixServerCommitDlg>(env), QStringLiteral("提交版本至服务器")},
        {std::make_unique<COvixUpdatePatchDlg>(env), QStringLiteral("OVIX补丁程序")},
    };
    for (Case& c : cases) QCOMPARE(shownTitle(c.dialog.get()), c.caption);
  }

  void checkUpdateBoxesStayOnTopAndOthersDoNot() {
    QtPresenter presenter;
    struct Case {
      const char* what;
      std::function<void()> show;
      bool topmost;
    };
    const Case cases[] = {
        {"topmost question", [&] { presenter.askTopmostYesNo("是否继续执行？"); }, true},
        {"topmost message", [&] { presenter.showTopmostMessage("", "需要手动关闭所有x"); }, true},
        {"topmost titled", [&] { presenter.showTopmostMessage("Info", "更新结束"); }, true},
        {"question", [&] { presenter.askYesNo("是否继续执行？"); }, false},
        {"message", [&] { presenter.showMessage("不能读取文件"); }, false},
        {"titled", [&] { presenter.showTitledMessage("错误", "x"); }, false},
    };
    for (const Case& c : cases) {
      Qt::WindowFlags flags = flagsOfBox(c.show);
      QVERIFY2(flags != Qt::WindowFlags(), c.what);
      QVERIFY2(flags.testFlag(Qt::WindowStaysOnTopHint) == c.topmost, c.what);
    }
  }
};

QTEST_MAIN(DialogProgramTest)
#include "dialog_program_test.moc"
