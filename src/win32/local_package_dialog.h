// The pack dialog (template IDD_LOCAL_PACKAGE): source tree, sub-directory
// or exclusion list, file types or file list, and user name.  OK runs the
// core's pack job with the typed texts.

#ifndef OVIX_WIN32_LOCAL_PACKAGE_DIALOG_H_
#define OVIX_WIN32_LOCAL_PACKAGE_DIALOG_H_

#include <string>

#include "platform/env.h"
#include "win32/icon_dialog.h"

namespace ovix::win32 {

class COvixLocalPackage : public IconDialog {
 public:
  explicit COvixLocalPackage(Env* env);

  // "DLL" or "CONFIG"; read when the window is created.
  std::string m_kind = "DLL";

 protected:
  // Relabels for "CONFIG", lists the user folders, sets the default types.
  void onInit() override;
  // Packs; true (close) only when a package was written.
  bool onOk() override;

 private:
  Env* env_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_LOCAL_PACKAGE_DIALOG_H_
