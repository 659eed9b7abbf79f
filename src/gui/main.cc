// OvixServerCommit: the dialog program.  One run does the one job that the
// command line's switch names and then ends.

#include <QApplication>
#include <QIcon>
#include <string>

#include "app/application.h"
#include "app/easy_log.h"
#include "app/log_viewer.h"
#include "gui/gui_job_host.h"
#include "gui/qt_presenter.h"
#include "platform/env.h"
#include "platform/presenter.h"

int main(int argc, char** argv) {
  ovix::Env* env = ovix::Env::Default();
  ovix_print_logfile errorOutput(env);
  ovix::openRunLog(env);

  QApplication qtApp(argc, argv);  // removes Qt's own options from argv
  QApplication::setApplicationDisplayName(QStringLiteral("OvixServerCommit"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ovix/ovix.png")));

  // The command-line tail as the program receives it: the arguments after
  // the program name, separated by single blanks.
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += QString::fromLocal8Bit(argv[i]).toLocal8Bit().toStdString();
  }

  QtPresenter presenter;
  zdcom::ScopedPresenter presenterGuard(&presenter);
  GuiJobHost host(env);
  ovix::COvixServerCommitApp app(env, &host, {tail, std::nullopt});
  app.InitInstance();
  return 0;
}
