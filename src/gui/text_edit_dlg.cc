#include "gui/text_edit_dlg.h"

#include <QPushButton>

#include "ui_text_edit_dlg.h"

CZedaTextEditDlg::CZedaTextEditDlg(QWidget* parent)
    : InitOnShowDialog(parent), ui_(std::make_unique<Ui::CZedaTextEditDlg>()) {
  ui_->setupUi(this);
  ui_->buttonBox->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  ui_->buttonBox->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &CZedaTextEditDlg::accept);
  connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &CZedaTextEditDlg::reject);
}

CZedaTextEditDlg::~CZedaTextEditDlg() = default;

QPlainTextEdit* CZedaTextEditDlg::textEdit() const { return ui_->textEdit; }

// The fields are read when the dialog is first shown, so a caller can fill
// them between construction and exec().
void CZedaTextEditDlg::initDialog() {
  setWindowTitle(m_title);
  QPlainTextEdit* edit = ui_->textEdit;
  edit->setPlainText(m_text);
  if (m_editable) {
    edit->selectAll();
    edit->ensureCursorVisible();
  } else {
    edit->setReadOnly(true);
  }
  ui_->buttonBox->button(QDialogButtonBox::Ok)->setFocus();
}

void CZedaTextEditDlg::accept() {
  if (m_editable) m_text = ui_->textEdit->toPlainText();
  QDialog::accept();
}
