#include "win32/win32_job_host.h"

#include "jobs/check_update.h"
#include "win32/local_package_dialog.h"
#include "win32/project_info_dialog.h"
#include "win32/server_commit_dialog.h"
#include "win32/update_patch_dialog.h"

namespace ovix::win32 {

bool Win32JobHost::runLocalPackage(const std::string& packageKind) {
  COvixLocalPackage dlg(env_);
  dlg.m_kind = packageKind;
  return dlg.runModal(nullptr) == IDOK;
}

bool Win32JobHost::runServerCommit(const std::string& packageKind) {
  COvixServerCommitDlg dlg(env_);
  dlg.setPackageKind(packageKind);
  return dlg.runModal(nullptr) == IDOK;
}

bool Win32JobHost::runUpdatePatch() {
  COvixUpdatePatchDlg dlg(env_);
  return dlg.runModal(nullptr) == IDOK;
}

bool Win32JobHost::runProjectInfo() {
  COvixProjectInfo dlg(env_);
  return dlg.runModal(nullptr) == IDOK;
}

bool Win32JobHost::runCheckUpdate() { return ovix::runCheckUpdate(*env_); }

}  // namespace ovix::win32
