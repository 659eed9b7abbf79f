// The version dialog of the pack job (template IDD_PACKAGE_SELECT):
// software name, version and date of a package.  OK checks the date with
// the core's versionDialogOk.

#ifndef OVIX_WIN32_PACKAGE_SELECT_DIALOG_H_
#define OVIX_WIN32_PACKAGE_SELECT_DIALOG_H_

#include "packing/version_input.h"
#include "win32/dialog.h"

namespace ovix::win32 {

class COvixPackageSelectDlg : public Dialog {
 public:
  COvixPackageSelectDlg();

  bool m_projectMode = false;  // true: an empty date is allowed

  // The values stored by the last successful OK.
  const VersionInfo& info() const { return info_; }

 protected:
  // Fills both combo boxes and selects their first entries.
  void onInit() override;
  // True (close) only when the fields give a valid version.
  bool onOk() override;

 private:
  VersionInfo info_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_PACKAGE_SELECT_DIALOG_H_
