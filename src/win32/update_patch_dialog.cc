#include "win32/update_patch_dialog.h"

#include "jobs/download.h"
#include "win32/resource_ids.h"

namespace ovix::win32 {

COvixUpdatePatchDlg::COvixUpdatePatchDlg(Env* env) : IconDialog(IDD_UPDATE_PATCH), env_(env) {}

void COvixUpdatePatchDlg::onInit() {
  IconDialog::onInit();
  DownloadFields remembered = loadRememberedDownload(*env_);
  setText(IDC_DOWNLOAD_SERVER, remembered.address);
  setText(IDC_DOWNLOAD_PORT, remembered.port);
  setText(IDC_INSTALL_PATH, remembered.installPath);
}

bool COvixUpdatePatchDlg::onOk() {
  return downloadDialogOk(*env_, {text(IDC_INSTALL_PATH), text(IDC_DOWNLOAD_SERVER),
                                  text(IDC_DOWNLOAD_PORT)});
}

}  // namespace ovix::win32
