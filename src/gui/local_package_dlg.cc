#include "gui/local_package_dlg.h"

#include <QApplication>
#include <QPushButton>
#include <QStringList>
#include <algorithm>

#include "app/working_files.h"
#include "gui/dialog_buttons.h"
#include "gui/gui_pack_ui.h"
#include "ui_local_package_dlg.h"

namespace {

// Letter case ignored, as the combo box inserts typed names; names that
// differ only in case keep a fixed order.
QStringList sortedNames(const std::vector<std::string>& names) {
  QStringList list;
  for (const std::string& name : names) list << QString::fromLocal8Bit(name);
  std::sort(list.begin(), list.end(), [](const QString& a, const QString& b) {
    int byCase = a.compare(b, Qt::CaseInsensitive);
    return byCase != 0 ? byCase < 0 : a < b;
  });
  return list;
}

}  // namespace

COvixLocalPackage::COvixLocalPackage(ovix::Env* env, QWidget* parent)
    : InitOnShowDialog(parent), env_(env), ui_(std::make_unique<Ui::COvixLocalPackage>()) {
  ui_->setupUi(this);
  setUpOkCancel(this, ui_->buttonBox);
}

COvixLocalPackage::~COvixLocalPackage() = default;

QLabel* COvixLocalPackage::pathLabel() const { return ui_->labelPath; }
QLabel* COvixLocalPackage::subdirLabel() const { return ui_->labelSubdir; }
QLineEdit* COvixLocalPackage::pathEdit() const { return ui_->pathEdit; }
QLineEdit* COvixLocalPackage::subdirEdit() const { return ui_->subdirEdit; }
QLineEdit* COvixLocalPackage::typesEdit() const { return ui_->typesEdit; }
QComboBox* COvixLocalPackage::userCombo() const { return ui_->userCombo; }

// Runs on first show, so a caller can set m_kind after construction.
void COvixLocalPackage::initDialog() {
  setWindowIcon(QApplication::windowIcon());
  if (m_kind == "CONFIG") {
    ui_->labelPath->setText(QStringLiteral("项目路径"));
    ui_->labelSubdir->setText(QStringLiteral("项目子路径/排除列表"));
  }
  QComboBox* users = ui_->userCombo;
  users->clear();
  users->addItems(sortedNames(ovix::listUserFolders(*env_)));
  if (users->count() > 0) users->setCurrentIndex(0);
  ui_->typesEdit->setText(QString::fromLocal8Bit(ovix::defaultFileTypes(m_kind)));
}

ovix::PackDialogFields COvixLocalPackage::fields() const {
  ovix::PackDialogFields f;
  f.user = toProgramText(ui_->userCombo->currentText());
  f.path = toProgramText(ui_->pathEdit->text());
  f.subdir = toProgramText(ui_->subdirEdit->text());
  f.types = toProgramText(ui_->typesEdit->text());
  return f;
}

void COvixLocalPackage::accept() {
  GuiPackUi ui(this);
  if (ovix::packDialogOk(*env_, fields(), m_kind, ui)) QDialog::accept();
}
