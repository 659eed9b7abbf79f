#include "win32/password_dialog.h"

#include <utility>

#include "win32/resource_ids.h"

namespace ovix::win32 {

PasswordDialog::PasswordDialog(std::string prompt)
    : Dialog(IDD_PASSWORD), prompt_(std::move(prompt)) {}

void PasswordDialog::onInit() { setText(IDC_PASSWORD_PROMPT, prompt_); }

bool PasswordDialog::onOk() {
  password_ = text(IDC_PASSWORD_TEXT);
  return true;
}

}  // namespace ovix::win32
