// The project information dialog (template IDD_PROJECT_INFO): address and
// port of the project server and one of its projects.  The project list is
// refilled whenever the address or port edit loses the focus; OK runs the
// core's projectInfoOk.

#ifndef OVIX_WIN32_PROJECT_INFO_DIALOG_H_
#define OVIX_WIN32_PROJECT_INFO_DIALOG_H_

#include "platform/env.h"
#include "win32/dialog.h"

namespace ovix::win32 {

class COvixProjectInfo : public Dialog {
 public:
  explicit COvixProjectInfo(Env* env);

 protected:
  // Shows the remembered address and port; lists the projects when a port
  // was remembered.
  void onInit() override;
  // Writes the information file; true (close) only when it was written.
  bool onOk() override;
  // EN_KILLFOCUS of the address or port edit refills the list.
  bool onCommand(int id, int code) override;

 private:
  // Lists the projects of the server in the two edits, keeping the typed
  // name.  A failed listing leaves the list empty and shows nothing.
  void refillProjects();

  Env* env_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_PROJECT_INFO_DIALOG_H_
