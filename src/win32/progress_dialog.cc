#include "win32/progress_dialog.h"

#include <commctrl.h>

#include "win32/resource_ids.h"

namespace ovix::win32 {

ProgressDialog::ProgressDialog() : Dialog(IDD_PROGRESS) {}

ProgressDialog::~ProgressDialog() {
  if (ownerDisabled_) EnableWindow(owner_, TRUE);
}

bool ProgressDialog::open(HWND owner, const std::string& label) {
  if (createModeless(owner) == nullptr) return false;
  setText(IDC_PROGRESS_LABEL, label);
  SendMessageW(item(IDC_PROGRESS_BAR), PBM_SETRANGE32, 0, kSteps);
  owner_ = owner;
  // EnableWindow returns whether the window was disabled before.
  ownerDisabled_ = owner != nullptr && !EnableWindow(owner, FALSE);
  ShowWindow(window(), SW_SHOW);
  pumpMessages(window());
  return true;
}

void ProgressDialog::update(uint64_t done, uint64_t total) {
  if (window() == nullptr || total == 0) return;
  auto step = static_cast<WPARAM>(static_cast<long double>(done) * kSteps / total);
  SendMessageW(item(IDC_PROGRESS_BAR), PBM_SETPOS, step, 0);
  pumpMessages(window());
}

bool ProgressDialog::onCancel() {
  cancelled_ = true;
  // The owner takes input again before this window goes, so that the
  // system activates it rather than another program's window.
  if (ownerDisabled_) EnableWindow(owner_, TRUE);
  ownerDisabled_ = false;
  return true;
}

void pumpMessages(HWND dialog) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace ovix::win32
