// The upload dialog (template IDD_SERVER_COMMIT): administrator password,
// address and port of the version server.  OK runs the core's
// serverCommitOk for the dialog's package kind.

#ifndef OVIX_WIN32_SERVER_COMMIT_DIALOG_H_
#define OVIX_WIN32_SERVER_COMMIT_DIALOG_H_

#include <string>

#include "platform/env.h"
#include "win32/icon_dialog.h"

namespace ovix::win32 {

class COvixServerCommitDlg : public IconDialog {
 public:
  explicit COvixServerCommitDlg(Env* env);

  // "DLL" (the default) or "CONFIG": the kind of package OK uploads.
  void setPackageKind(const std::string& kind) { kind_ = kind; }

 protected:
  // Shows the remembered address and port; the password box stays empty.
  void onInit() override;
  // Uploads; true (close) only when the upload succeeded.
  bool onOk() override;

 private:
  Env* env_;
  std::string kind_ = "DLL";
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_SERVER_COMMIT_DIALOG_H_
