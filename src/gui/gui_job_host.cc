#include "gui/gui_job_host.h"

#include "gui/local_package_dlg.h"
#include "gui/project_info_dlg.h"
#include "gui/server_commit_dlg.h"
#include "gui/update_patch_dlg.h"
#include "jobs/check_update.h"

bool GuiJobHost::runLocalPackage(const std::string& packageKind) {
  COvixLocalPackage dlg(env_);
  dlg.m_kind = packageKind;
  return dlg.exec() == QDialog::Accepted;
}

bool GuiJobHost::runServerCommit(const std::string& packageKind) {
  COvixServerCommitDlg dlg(env_);
  dlg.setPackageKind(packageKind);
  return dlg.exec() == QDialog::Accepted;
}

bool GuiJobHost::runUpdatePatch() {
  COvixUpdatePatchDlg dlg(env_);
  return dlg.exec() == QDialog::Accepted;
}

bool GuiJobHost::runProjectInfo() {
  COvixProjectInfo dlg(env_);
  return dlg.exec() == QDialog::Accepted;
}

bool GuiJobHost::runCheckUpdate() { return ovix::runCheckUpdate(*env_); }
