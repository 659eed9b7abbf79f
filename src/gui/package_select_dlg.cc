#include "gui/package_select_dlg.h"

#include <QApplication>
#include <QPushButton>

#include "ui_package_select_dlg.h"

namespace {

void fillCombo(QComboBox* combo, const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) combo->addItem(QString::fromLocal8Bit(entry));
  if (combo->count() > 0) combo->setCurrentIndex(0);
}

std::string toProgramText(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace

COvixPackageSelectDlg::COvixPackageSelectDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::COvixPackageSelectDlg>()) {
  ui_->setupUi(this);
  setWindowIcon(QApplication::windowIcon());
  QPushButton* ok = ui_->buttonBox->button(QDialogButtonBox::Ok);
  ok->setText(QStringLiteral("确定"));
  ok->setDefault(true);
  ui_->buttonBox->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &COvixPackageSelectDlg::accept);
  connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &COvixPackageSelectDlg::reject);

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
