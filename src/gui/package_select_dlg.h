// The version dialog of the pack job: software name, version and date of a
// package whose installation has no setup file, or of a project patch.

#ifndef OVIX_GUI_PACKAGE_SELECT_DLG_H_
#define OVIX_GUI_PACKAGE_SELECT_DLG_H_

#include <QDialog>
#include <memory>

#include "packing/version_input.h"

class QComboBox;
class QLineEdit;

namespace Ui {
class COvixPackageSelectDlg;
}

class COvixPackageSelectDlg : public QDialog {
  Q_OBJECT

 public:
  explicit COvixPackageSelectDlg(QWidget* parent = nullptr);
  ~COvixPackageSelectDlg() override;

  bool m_projectMode = false;  // true: an empty date is allowed

  // The values stored by the last successful OK.
  const ovix::VersionInfo& info() const { return m_info; }

  QComboBox* nameCombo() const;
  QComboBox* versionCombo() const;
  QLineEdit* dateEdit() const;

 public slots:
  // Closes the dialog only when the fields give a valid version.
  void accept() override;

 private:
  std::unique_ptr<Ui::COvixPackageSelectDlg> ui_;
  ovix::VersionInfo m_info;
};

#endif  // OVIX_GUI_PACKAGE_SELECT_DLG_H_
