#include "gui/server_commit_dlg.h"

#include <QApplication>
#include <QPushButton>

#include "gui/dialog_buttons.h"
#include "jobs/server_commit.h"
#include "ui_server_commit_dlg.h"

COvixServerCommitDlg::COvixServerCommitDlg(ovix::Env* env, QWidget* parent)
    : InitOnShowDialog(parent), env_(env), ui_(std::make_unique<Ui::COvixServerCommitDlg>()) {
  ui_->setupUi(this);
  setWindowIcon(QApplication::windowIcon());
  setUpOkCancel(this, ui_->buttonBox);
}

COvixServerCommitDlg::~COvixServerCommitDlg() = default;

QLineEdit* COvixServerCommitDlg::passwordEdit() const { return ui_->passwordEdit; }
QLineEdit* COvixServerCommitDlg::addressEdit() const { return ui_->addressEdit; }
QLineEdit* COvixServerCommitDlg::portEdit() const { return ui_->portEdit; }

// Runs on first show only, so a second show keeps what the user typed.
// The password box is never filled.
void COvixServerCommitDlg::initDialog() {
  ovix::ServerAddress remembered = ovix::loadRememberedServer(*env_);
  ui_->addressEdit->setText(QString::fromLocal8Bit(remembered.address));
  ui_->portEdit->setText(QString::fromLocal8Bit(remembered.port));
}

void COvixServerCommitDlg::accept() {
  if (ovix::serverCommitOk(*env_, toProgramText(ui_->passwordEdit->text()),
                           toProgramText(ui_->addressEdit->text()),
                           toProgramText(ui_->portEdit->text()), kind_))
    QDialog::accept();
}
