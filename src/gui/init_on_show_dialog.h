// A dialog that fills its fields when it is first shown, as a dialog's own
// initialisation does, rather than when it is made: the caller may still
// set it up in between, and a second show keeps what the user typed.

#ifndef OVIX_GUI_INIT_ON_SHOW_DIALOG_H_
#define OVIX_GUI_INIT_ON_SHOW_DIALOG_H_

#include <QDialog>

class InitOnShowDialog : public QDialog {
 public:
  using QDialog::QDialog;

 protected:
  // Runs once, just before the dialog first appears.
  virtual void initDialog() = 0;

  void showEvent(QShowEvent* event) override {
    if (!initialised_) {
      initialised_ = true;
      initDialog();
    }
    QDialog::showEvent(event);
  }

 private:
  bool initialised_ = false;
};

#endif  // OVIX_GUI_INIT_ON_SHOW_DIALOG_H_
