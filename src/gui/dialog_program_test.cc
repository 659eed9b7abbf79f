// The dialog program as a whole: the command line it matches, started as its
// own process.

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>
#include <string>

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
};

QTEST_MAIN(DialogProgramTest)
#include "dialog_program_test.moc"
