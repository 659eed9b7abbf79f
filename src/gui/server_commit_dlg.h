// The upload dialog: administrator password, address and port of the
// version server.  OK uploads the newest local package of the dialog's kind.

#ifndef OVIX_GUI_SERVER_COMMIT_DLG_H_
#define OVIX_GUI_SERVER_COMMIT_DLG_H_

#include <memory>
#include <string>

#include "gui/init_on_show_dialog.h"
#include "platform/env.h"

class QLineEdit;

namespace Ui {
class COvixServerCommitDlg;
}

class COvixServerCommitDlg : public InitOnShowDialog {
  Q_OBJECT

 public:
  explicit COvixServerCommitDlg(ovix::Env* env, QWidget* parent = nullptr);
  ~COvixServerCommitDlg() override;

  // "DLL" (the default) or "CONFIG": the kind of package OK uploads.
  void setPackageKind(const std::string& kind) { kind_ = kind; }
  const std::string& packageKind() const { return kind_; }

  QLineEdit* passwordEdit() const;
  QLineEdit* addressEdit() const;
  QLineEdit* portEdit() const;

 public slots:
  // Uploads; closes the dialog only when the upload succeeded.
  void accept() override;

 private:
  void initDialog() override;

  ovix::Env* env_;
  std::unique_ptr<Ui::COvixServerCommitDlg> ui_;
  std::string kind_ = "DLL";
};

#endif  // OVIX_GUI_SERVER_COMMIT_DLG_H_
