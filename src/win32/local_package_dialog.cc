#include "win32/local_package_dialog.h"

#include "app/working_files.h"
#include "jobs/pack_job.h"
#include "win32/combo_box.h"
#include "win32/resource_ids.h"
#include "win32/win32_pack_ui.h"

namespace ovix::win32 {

COvixLocalPackage::COvixLocalPackage(Env* env) : IconDialog(IDD_LOCAL_PACKAGE), env_(env) {}

void COvixLocalPackage::onInit() {
  IconDialog::onInit();
  if (m_kind == "CONFIG") {
    setText(IDC_PACK_PATH_LABEL, "项目路径");
    setText(IDC_PACK_SUBDIR_LABEL, "项目子路径/排除列表");
  }
  // The box is sorted, so the first entry is the first name in its order.
  HWND users = item(IDC_PACK_USER);
  replaceComboItems(users, listUserFolders(*env_));
  if (comboCount(users) > 0) SendMessageW(users, CB_SETCURSEL, 0, 0);
  setText(IDC_PACK_TYPES, defaultFileTypes(m_kind));
}

bool COvixLocalPackage::onOk() {
  PackDialogFields fields;
  fields.user = text(IDC_PACK_USER);
  fields.path = text(IDC_PACK_PATH);
  fields.subdir = text(IDC_PACK_SUBDIR);
  fields.types = text(IDC_PACK_TYPES);
  Win32PackUi ui(window());
  return packDialogOk(*env_, fields, m_kind, ui);
}

}  // namespace ovix::win32
