// A text in a resizable dialog: editable with all text selected, or
// read-only for viewing a log.

#ifndef OVIX_GUI_TEXT_EDIT_DLG_H_
#define OVIX_GUI_TEXT_EDIT_DLG_H_

#include <QDialog>
#include <QString>
#include <memory>

class QPlainTextEdit;

namespace Ui {
class CZedaTextEditDlg;
}

class CZedaTextEditDlg : public QDialog {
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

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void initDialog();

  std::unique_ptr<Ui::CZedaTextEditDlg> ui_;
  bool initialised_ = false;
};

#endif  // OVIX_GUI_TEXT_EDIT_DLG_H_
