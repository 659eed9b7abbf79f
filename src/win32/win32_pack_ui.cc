#include "win32/win32_pack_ui.h"

#include "win32/open_file_dialog.h"
#include "win32/package_select_dialog.h"
#include "win32/password_dialog.h"

namespace ovix::win32 {

bool Win32PackUi::askVersion(bool projectMode, VersionInfo* info) {
  COvixPackageSelectDlg dlg;
  dlg.m_projectMode = projectMode;
  if (dlg.runModal(owner_) != IDOK) return false;
  *info = dlg.info();
  return true;
}

bool Win32PackUi::chooseProjectInfoFile(const std::string& initialDirectory, std::string* path) {
  return chooseFileToOpen(owner_, "请选择特定项目配置文件", initialDirectory, path);
}

bool Win32PackUi::askSigningPassword(const std::string& keyPath, std::string* password) {
  PasswordDialog dlg("签名私钥" + keyPath + "的密码：");
  if (dlg.runModal(owner_) != IDOK) return false;
  *password = dlg.password();
  return true;
}

}  // namespace ovix::win32
