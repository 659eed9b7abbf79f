// The download dialog (template IDD_UPDATE_PATCH): installation path,
// address and port of the version server.  OK runs the core's
// downloadDialogOk.

#ifndef OVIX_WIN32_UPDATE_PATCH_DIALOG_H_
#define OVIX_WIN32_UPDATE_PATCH_DIALOG_H_

#include "platform/env.h"
#include "win32/icon_dialog.h"

namespace ovix::win32 {

class COvixUpdatePatchDlg : public IconDialog {
 public:
  explicit COvixUpdatePatchDlg(Env* env);

 protected:
  // Shows the remembered address, port and installation path.
  void onInit() override;
  // Downloads; true (close) only when the installation was updated.
  bool onOk() override;

 private:
  Env* env_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_UPDATE_PATCH_DIALOG_H_
