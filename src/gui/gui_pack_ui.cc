#include "gui/gui_pack_ui.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>

#include "gui/package_select_dlg.h"

bool GuiPackUi::askVersion(bool projectMode, ovix::VersionInfo* info) {
  COvixPackageSelectDlg dlg(parent_);
  dlg.m_projectMode = projectMode;
  if (dlg.exec() != QDialog::Accepted) return false;
  *info = dlg.info();
  return true;
}

bool GuiPackUi::chooseProjectInfoFile(const std::string& initialDirectory, std::string* path) {
  QString chosen = QFileDialog::getOpenFileName(
      parent_, QStringLiteral("请选择特定项目配置文件"), QString::fromLocal8Bit(initialDirectory),
      QStringLiteral("INI Files (*.INI *.ini)"));
  if (chosen.isEmpty()) return false;
  *path = chosen.toLocal8Bit().toStdString();
  return true;
}

bool GuiPackUi::askSigningPassword(const std::string& keyPath, std::string* password) {
  bool ok = false;
  QString text = QInputDialog::getText(
      parent_, QStringLiteral("签名"),
      QStringLiteral("签名私钥%1的密码：").arg(QString::fromLocal8Bit(keyPath)), QLineEdit::Password,
      QString(), &ok);
  if (!ok) return false;
  *password = text.toStdString();
  return true;
}
