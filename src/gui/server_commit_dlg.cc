#include "gui/server_commit_dlg.h"

#include <QApplication>
#include <QPushButton>

#include "server/server_commit.h"
#include "ui_server_commit_dlg.h"

namespace {

std::string toProgramText(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace

COvixServerCommitDlg::COvixServerCommitDlg(ovix::Env* env, QWidget* parent)
    : QDialog(parent), env_(env), ui_(std::make_unique<Ui::COvixServerCommitDlg>()) {
  ui_->setupUi(this);
  setWindowIcon(QApplication::windowIcon());
  QPushButton* ok = ui_->buttonBox->button(QDialogButtonBox::Ok);
  ok->setText(QStringLiteral("确定"));
  ok->setDefault(true);
  ui_->buttonBox->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &COvixServerCommitDlg::accept);
  connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &COvixServerCommitDlg::reject);
}

COvixServerCommitDlg::~COvixServerCommitDlg() = default;

QLineEdit* COvixServerCommitDlg::passwordEdit() const { return ui_->passwordEdit; }
QLineEdit* COvixServerCommitDlg::addressEdit() const { return ui_->addressEdit; }
QLineEdit* COvixServerCommitDlg::portEdit() const { return ui_->portEdit; }

void COvixServerCommitDlg::showEvent(QShowEvent* event) {
  if (!initialised_) {
    initialised_ = true;
    initDialog();
  }
  QDialog::showEvent(event);
}

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
