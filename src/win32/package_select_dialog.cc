#include "win32/package_select_dialog.h"

#include "win32/combo_box.h"
#include "win32/resource_ids.h"

namespace ovix::win32 {

namespace {

void fillAndSelectFirst(HWND combo, const std::vector<std::string>& entries) {
  replaceComboItems(combo, entries);
  if (comboCount(combo) > 0) SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

}  // namespace

COvixPackageSelectDlg::COvixPackageSelectDlg() : Dialog(IDD_PACKAGE_SELECT) {}

void COvixPackageSelectDlg::onInit() {
  fillAndSelectFirst(item(IDC_VERSION_NAME), versionDialogNames());
  fillAndSelectFirst(item(IDC_VERSION_VERSION), versionDialogVersions());
}

bool COvixPackageSelectDlg::onOk() {
  return versionDialogOk(text(IDC_VERSION_NAME), text(IDC_VERSION_VERSION),
                         text(IDC_VERSION_DATE), m_projectMode, &info_);
}

}  // namespace ovix::win32
