// The download dialog: installation path, address and port of the version
// server.  OK brings the installation up to date from the patch store.

#ifndef OVIX_GUI_UPDATE_PATCH_DLG_H_
#define OVIX_GUI_UPDATE_PATCH_DLG_H_

#include <memory>

#include "gui/init_on_show_dialog.h"
#include "platform/env.h"

class QLineEdit;

namespace Ui {
class COvixUpdatePatchDlg;
}

class COvixUpdatePatchDlg : public InitOnShowDialog {
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

 private:
  void initDialog() override;

  ovix::Env* env_;
  std::unique_ptr<Ui::COvixUpdatePatchDlg> ui_;
};

#endif  // OVIX_GUI_UPDATE_PATCH_DLG_H_
