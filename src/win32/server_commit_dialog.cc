#include "win32/server_commit_dialog.h"

#include "jobs/server_commit.h"
#include "win32/resource_ids.h"

namespace ovix::win32 {

COvixServerCommitDlg::COvixServerCommitDlg(Env* env) : IconDialog(IDD_SERVER_COMMIT), env_(env) {}

void COvixServerCommitDlg::onInit() {
  IconDialog::onInit();
  ServerAddress remembered = loadRememberedServer(*env_);
  setText(IDC_SERVER, remembered.address);
  setText(IDC_PORT, remembered.port);
}

bool COvixServerCommitDlg::onOk() {
  return serverCommitOk(*env_, text(IDC_PASSWORD), text(IDC_SERVER), text(IDC_PORT), kind_);
}

}  // namespace ovix::win32
