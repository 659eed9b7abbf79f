// OvixServerCommit.exe: the dialog program for Windows.  One run does the
// one job that the command line's switch names and then ends.

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/application.h"
#include "app/log_viewer.h"
#include "platform/env.h"
#include "platform/presenter.h"
#include "platform/utf16_windows.h"
#include "win32/win32_job_host.h"
#include "win32/win32_presenter.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandTail, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  ovix::Env* env = ovix::Env::Default();
  ovix_print_logfile errorOutput(env);
  ovix::openRunLog(env);

  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  ovix::win32::Win32Presenter presenter;
  zdcom::ScopedPresenter presenterGuard(&presenter);
  ovix::win32::Win32JobHost host(env);
  // The tail after the program name, exactly as given: the switch table
  // compares it whole.
  ovix::COvixServerCommitApp app(env, &host,
                                 {ovix::narrow(commandTail != nullptr ? commandTail : L""),
                                  std::nullopt});
  app.InitInstance();
  return 0;
}
