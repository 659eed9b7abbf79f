// The project information dialog: address and port of the project server
// and one of its projects.  OK writes the project information file that
// names the project for a project package.

#ifndef OVIX_GUI_PROJECT_INFO_DLG_H_
#define OVIX_GUI_PROJECT_INFO_DLG_H_

#include <memory>

#include "gui/init_on_show_dialog.h"
#include "platform/env.h"

class QComboBox;
class QLineEdit;

namespace Ui {
class COvixProjectInfo;
}

class COvixProjectInfo : public InitOnShowDialog {
  Q_OBJECT

 public:
  explicit COvixProjectInfo(ovix::Env* env, QWidget* parent = nullptr);
  ~COvixProjectInfo() override;

  QLineEdit* addressEdit() const;
  QLineEdit* portEdit() const;
  // Editable: the user picks a listed project or types a name.
  QComboBox* projectCombo() const;

 public slots:
  // Writes the project information file; closes the dialog only when it
  // was written.
  void accept() override;

 protected:
  // Refills the project list when the address or port edit loses focus.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void initDialog() override;
  // Lists the projects of the server in the two edits, keeping the name in
  // the combo box's edit.  A failed listing leaves the list empty and says
  // so in the edit's placeholder text, without a message box.
  void refillProjects();

  ovix::Env* env_;
  std::unique_ptr<Ui::COvixProjectInfo> ui_;
};

#endif  // OVIX_GUI_PROJECT_INFO_DLG_H_
