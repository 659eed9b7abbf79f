// OvixServerCommit: the dialog program.  One run does the one job that the
// command line's switch names and then ends; "--version" or "--help" alone
// print their text instead.

#include <QApplication>
#include <cstdio>
#include <optional>
#include <string>

#include "app/application.h"
#include "app/easy_log.h"
#include "app/log_viewer.h"
#include "gui/dialog_program.h"
#include "gui/gui_job_host.h"
#include "gui/qt_presenter.h"
#include "platform/env.h"
#include "platform/presenter.h"

int main(int argc, char** argv) {
  // Taken before QApplication removes the options it knows from argv: the
  // switch table must see the command line exactly as given.
  std::string tail = commandTail(programArguments(argc, argv));
  if (std::optional<std::string> text = informationText(tail)) {
    std::fputs(text->c_str(), stdout);
    return 0;
  }

  ovix::Env* env = ovix::Env::Default();
  ovix_print_logfile errorOutput(env);
  ovix::openRunLog(env);

  QApplication qtApp(argc, argv);
  setUpDialogApplication();

  QtPresenter presenter;
  zdcom::ScopedPresenter presenterGuard(&presenter);
  GuiJobHost host(env);
  ovix::COvixServerCommitApp app(env, &host, {tail, std::nullopt});
  app.InitInstance();
  return 0;
}
