// The dialog program as a whole: the command line it matches and its
// --version and --help, started as its own process; the message boxes that
// stay on top, the log viewer and the progress dialog, shown by the
// presenter.

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QProgressDialog>
#include <QtTest>
#include <cctype>
#include <functional>
#include <string>
#include <tuple>

#include "app/log_viewer.h"
#include "app/switch_table.h"
#include "gui/qt_presenter.h"
#include "gui/text_edit_dlg.h"
#include "testing/dialog_test_support.h"

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
  // A program still running, with a dialog open, is killed with `program`.
  bool ended = program.waitForFinished(30000);
  return {ended, program.readAllStandardOutput().toStdString(), dir.read("temp/autoPatchLog.txt")};
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
      Qt::WindowFlags flags;
      ovix::testing::whenModal<QMessageBox>(
          this, [&flags](QMessageBox* box) { flags = box->windowFlags(); });
      show();
      QVERIFY2(flags != Qt::WindowFlags(), what);
      QVERIFY2(flags.testFlag(Qt::WindowStaysOnTopHint) == topmost, what);
    }
  }

  // The viewer's own line ends are shown as plain line breaks; the text box
  // keeps its distances to the edges when the viewer is resized.
  void presenterShowsLogsReadOnlyUnderTheirTitle() {
    const std::string log =
        "-checkupdate\t[2026.12.05 09:00:00 Saturday]\n"
        "更新文件 bin\\v80-win32\\OvixDesign.exe\t[2026.12.05 09:00:02]\n";
    ovix::testing::TempDir dir;
    std::string path = dir.write("autoPatchLog.txt", log);
    QtPresenter presenter;
    bool readOnly = false;
    QString title, text;
    QRect grown, before;
    ovix::testing::whenModal<CZedaTextEditDlg>(this, [&](CZedaTextEditDlg* dlg) {
      readOnly = dlg->textEdit()->isReadOnly();
      title = dlg->windowTitle();
      text = dlg->textEdit()->toPlainText();
      ovix::testing::savePicture(dlg, "log_viewer.png");
      before = dlg->textEdit()->geometry();
      dlg->resize(dlg->size() + QSize(200, 120));
      QCoreApplication::processEvents();
      grown = dlg->textEdit()->geometry();
    });
    presenter.showText("日志记录",
                       ovix::joinLogLines(ovix::readTextLines(*ovix::Env::Default(), path)));
    QVERIFY(readOnly);
    QCOMPARE(title, QStringLiteral("日志记录"));
    QCOMPARE(text, QString::fromUtf8(log));
    QCOMPARE(grown, before.adjusted(0, 0, 200, 120));
  }

  // Work of unknown total shows no progress dialog; after Cancel the work
  // is told to stop until it ends or new work starts.
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

QTEST_MAIN(DialogProgramTest)
#include "dialog_program_test.moc"
