#include "gui/package_select_dlg.h"

#include <QApplication>
#include <QPushButton>

#include "gui/dialog_buttons.h"
#include "ui_package_select_dlg.h"

namespace {

void fillCombo(QComboBox* combo, const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) combo->addItem(QString::fromLocal8Bit(entry));
  if (combo->count() > 0) combo->setCurrentIndex(0);
}

}  // namespace

COvixPackageSelectDlg::COvixPackageSelectDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::COvixPackageSelectDlg>()) {
  ui_->setupUi(this);
  setWindowIcon(QApplication::windowIcon());
  setUpOkCancel(this, ui_->buttonBox);

  fillCombo(ui_->nameCombo, ovix::versionDialogNames());
  fillCombo(ui_->versionCombo, ovix::versionDialogVersions());
}

COvixPackageSelectDlg::~COvixPackageSelectDlg() = default;

QComboBox* COvixPackageSelectDlg::nameCombo() const { return ui_->nameCombo; }
QComboBox* COvixPackageSelectDlg::versionCombo() const { return ui_->versionCombo; }
QLineEdit* COvixPackageSelectDlg::dateEdit() const { return ui_->dateEdit; }

void COvixPackageSelectDlg::accept() {
  if (ovix::versionDialogOk(toProgramText(ui_->nameCombo->currentText()),
                            toProgramText(ui_->versionCombo->currentText()),
                            toProgramText(ui_->dateEdit->text()), m_projectMode, &m_info)) {
    QDialog::accept();
  }
}
