#include "gui/update_patch_dlg.h"

#include <QApplication>
#include <QPushButton>
#include <string>

#include "gui/dialog_buttons.h"
#include "jobs/download.h"
#include "ui_update_patch_dlg.h"

COvixUpdatePatchDlg::COvixUpdatePatchDlg(ovix::Env* env, QWidget* parent)
    : InitOnShowDialog(parent), env_(env), ui_(std::make_unique<Ui::COvixUpdatePatchDlg>()) {
  ui_->setupUi(this);
  setWindowIcon(QApplication::windowIcon());
  setUpOkCancel(this, ui_->buttonBox);
}

COvixUpdatePatchDlg::~COvixUpdatePatchDlg() = default;

QLineEdit* COvixUpdatePatchDlg::installEdit() const { return ui_->installEdit; }
QLineEdit* COvixUpdatePatchDlg::addressEdit() const { return ui_->addressEdit; }
QLineEdit* COvixUpdatePatchDlg::portEdit() const { return ui_->portEdit; }

// Runs on first show only, so a second show keeps what the user typed.
void COvixUpdatePatchDlg::initDialog() {
  ovix::DownloadFields remembered = ovix::loadRememberedDownload(*env_);
  ui_->installEdit->setText(QString::fromLocal8Bit(remembered.installPath));
  ui_->addressEdit->setText(QString::fromLocal8Bit(remembered.address));
  ui_->portEdit->setText(QString::fromLocal8Bit(remembered.port));
}

void COvixUpdatePatchDlg::accept() {
  if (ovix::downloadDialogOk(*env_, {toProgramText(ui_->installEdit->text()),
                                     toProgramText(ui_->addressEdit->text()),
                                     toProgramText(ui_->portEdit->text())}))
    QDialog::accept();
}
