// The download dialog: installation path, address and port of the version
// server.  OK brings the installation up to date from the patch store.

#ifndef OVIX_GUI_UPDATE_PATCH_DLG_H_
#define OVIX_GUI_UPDATE_PATCH_DLG_H_

#include <QDialog>
#include <memory>

#include "platform/env.h"

class QLineEdit;

namespace Ui {
class COvixUpdatePatchDlg;
}

class COvixUpdatePatchDlg : public QDialog {
  Q_OBJECT

 public:
  explicit COvixUpdatePatchDlg(ovix::Env* env, QWidget* parent = nullptr);
  ~COvixUpdatePatchDlg() override;

  QLineEdit* installEdit() const;
  QLineEdit* addressEdit() const;
  QLineEdit* portEdit() const;

 public slots:
  // Downloads; closes the dialog only when the installation was updated.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void initDialog();

  ovix::Env* env_;
  std::unique_ptr<Ui::COvixUpdatePatchDlg> ui_;
  bool initialised_ = false;
};

#endif  // OVIX_GUI_UPDATE_PATCH_DLG_H_
