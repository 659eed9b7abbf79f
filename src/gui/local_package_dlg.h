// The pack dialog: source tree, sub-directory or exclusion list, file types
// or file list, and user name of a new package.

#ifndef OVIX_GUI_LOCAL_PACKAGE_DLG_H_
#define OVIX_GUI_LOCAL_PACKAGE_DLG_H_

#include <memory>
#include <string>

#include "gui/init_on_show_dialog.h"
#include "jobs/pack_job.h"
#include "platform/env.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace Ui {
class COvixLocalPackage;
}

class COvixLocalPackage : public InitOnShowDialog {
  Q_OBJECT

 public:
  explicit COvixLocalPackage(ovix::Env* env, QWidget* parent = nullptr);
  ~COvixLocalPackage() override;

  // "DLL" or "CONFIG"; read when the dialog is first shown.
  std::string m_kind = "DLL";

  // The fields as typed, in the program's 8-bit text.
  ovix::PackDialogFields fields() const;

  QLabel* pathLabel() const;
  QLabel* subdirLabel() const;
  QLineEdit* pathEdit() const;
  QLineEdit* subdirEdit() const;
  QLineEdit* typesEdit() const;
  QComboBox* userCombo() const;

 public slots:
  // Packs; closes the dialog only when a package was written.
  void accept() override;

 private:
  void initDialog() override;

  ovix::Env* env_;
  std::unique_ptr<Ui::COvixLocalPackage> ui_;
};

#endif  // OVIX_GUI_LOCAL_PACKAGE_DLG_H_
