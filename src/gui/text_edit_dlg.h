// A text in a resizable dialog: editable with all text selected, or
// read-only for viewing a log.

#ifndef OVIX_GUI_TEXT_EDIT_DLG_H_
#define OVIX_GUI_TEXT_EDIT_DLG_H_

#include <QString>
#include <memory>

#include "gui/init_on_show_dialog.h"

class QPlainTextEdit;

namespace Ui {
class CZedaTextEditDlg;
}

class CZedaTextEditDlg : public InitOnShowDialog {
  Q_OBJECT

 public:
  explicit CZedaTextEditDlg(QWidget* parent = nullptr);
  ~CZedaTextEditDlg() override;

  QString m_text;          // shown; after OK the edited text when editable
  QString m_title;         // window title
  bool m_editable = true;  // false: read-only

  QPlainTextEdit* textEdit() const;

 public slots:
  void accept() override;

 private:
  void initDialog() override;

  std::unique_ptr<Ui::CZedaTextEditDlg> ui_;
};

#endif  // OVIX_GUI_TEXT_EDIT_DLG_H_
