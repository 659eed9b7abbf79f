// Asks for the password of a signing key (template IDD_PASSWORD).

#ifndef OVIX_WIN32_PASSWORD_DIALOG_H_
#define OVIX_WIN32_PASSWORD_DIALOG_H_

#include <string>

#include "win32/dialog.h"

namespace ovix::win32 {

class PasswordDialog : public Dialog {
 public:
  explicit PasswordDialog(std::string prompt);

  // The typed password after OK.
  const std::string& password() const { return password_; }

 protected:
  void onInit() override;
  bool onOk() override;

 private:
  std::string prompt_;
  std::string password_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_PASSWORD_DIALOG_H_
