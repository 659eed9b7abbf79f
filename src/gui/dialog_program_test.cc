// The dialog program as a whole: the command line it matches and its
// --version and --help, started as its own process; the window titles the
// window system shows; the message boxes that stay on top.

#include <qpa/qplatformwindow.h>

#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "app/switch_table.h"
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

struct Run {
  bool ended = false;  // by itself: it opened no dialog
  std::string out;
  std::string log;
};

// Runs the dialog program in an installation of its own below `dir`,
// offscreen, or with no display at all.
Run runDialogProgram(const ovix::testing::TempDir& dir, const QStringList& arguments,
                     bool display = true) {
  dir.mkdir("temp");
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("OVIX_ROOT"), QString::fromStdString(dir.path()));
  env.insert(QStringLiteral("OVIX_HOME"), QString::fromStdString(dir.mkdir("home")));
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
    env.remove(QLatin1String(name));
  if (display) env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(OVIX_SERVER_COMMIT_BINARY), arguments);
  Run run;
  run.ended = program.waitForFinished(30000);
  if (!run.ended) {
    program.kill();
    program.waitForFinished();
  }
  run.out = program.readAllStandardOutput().toStdString();
  run.log = dir.read("temp/autoPatchLog.txt");
  return run;
}

// The title the window system shows: the window's title as the platform
// formats it (X11 and Wayland join the application's name with an em dash).
class PlatformTitle : public QPlatformWindow {
 public:
  using QPlatformWindow::formatWindowTitle;
};

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
  // Qt's own options and --version or --help among other words are part
  // of the command line: no switch matches, no dialog opens, and the run
  // log holds the line unchanged.
  void commandLinesMatchingNoSwitchAreLoggedAsGiven() {
    const QStringList cases[] = {
        {QStringLiteral("-pack"), QStringLiteral("-reverse")},
        {QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("-upload")},
        {QStringLiteral("--version"), QStringLiteral("--help")},
        {QStringLiteral("-pack"), QStringLiteral("--version")},
        {QStringLiteral("-version")},
    };
    for (const QStringList& arguments : cases) {
      ovix::testing::TempDir dir;
      Run run = runDialogProgram(dir, arguments);
      std::string line = "\n" + arguments.join(QLatin1Char(' ')).toStdString() + "\t[";
      QVERIFY2(run.ended && run.out.empty() && run.log.find(line) != std::string::npos,
               run.log.c_str());
    }
  }

  void versionAndHelpAloneAnswerWithoutDisplayOrLog() {
    ovix::testing::TempDir dir;
    Run version = runDialogProgram(dir, {QStringLiteral("--version")}, false);
    QVERIFY2(version.ended && version.out.starts_with("OvixServerCommit ") &&
                 std::isdigit(static_cast<unsigned char>(version.out[17])),
             version.out.c_str());
    Run help = runDialogProgram(dir, {QStringLiteral("--help")}, false);
    QVERIFY(help.ended);
    for (const ovix::SwitchEntry& entry : ovix::kSwitchTable)
      QVERIFY2(help.out.find(std::string("  ") + entry.text + " ") != std::string::npos,
               entry.text);
    QCOMPARE(help.log, std::string());
  }

  void windowTitlesAreExactlyTheCaptions() {
    setUpDialogApplication();
    ovix::Env* env = ovix::Env::Default();
    CZedaTextEditDlg viewer;
    viewer.m_title = QStringLiteral("日志记录");
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(shownTitle(&viewer), QStringLiteral("日志记录"));

    const std::pair<std::unique_ptr<QWidget>, QString> cases[] = {
        {std::make_unique<COvixLocalPackage>(env), QStringLiteral("OVIX打包")},
        {std::make_unique<COvixPackageSelectDlg>(), QStringLiteral("OVIX打包")},
        {std::make_unique<COvixProjectInfo>(env), QStringLiteral("OVIX打包")},
        {std::make_unique<COvixServerCommitDlg>(env), QStringLiteral("提交版本至服务器")},
        {std::make_unique<COvixUpdatePatchDlg>(env), QStringLiteral("OVIX补丁程序")},
    };
    for (const auto& [dialog, caption] : cases) QCOMPARE(shownTitle(dialog.get()), caption);
  }

  void checkUpdateBoxesStayOnTopAndOthersDoNot() {
    QtPresenter presenter;
    const std::tuple<const char*, std::function<void()>, bool> cases[] = {
        {"topmost question", [&] { presenter.askTopmostYesNo("是否继续执行？"); }, true},
        {"topmost message", [&] { presenter.showTopmostMessage("", "需要手动关闭所有x"); }, true},
        {"topmost titled", [&] { presenter.showTopmostMessage("Info", "更新结束"); }, true},
        {"question", [&] { presenter.askYesNo("是否继续执行？"); }, false},
        {"message", [&] { presenter.showMessage("不能读取文件"); }, false},
        {"titled", [&] { presenter.showTitledMessage("错误", "x"); }, false},
    };
    for (const auto& [what, show, topmost] : cases) {
      Qt::WindowFlags flags = flagsOfBox(show);
      QVERIFY2(flags != Qt::WindowFlags(), what);
      QVERIFY2(flags.testFlag(Qt::WindowStaysOnTopHint) == topmost, what);
    }
  }
};

QTEST_MAIN(DialogProgramTest)
#include "dialog_program_test.moc"
