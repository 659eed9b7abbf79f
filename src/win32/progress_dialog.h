// Progress of long work (template IDD_PROGRESS): a label, a bar and a
// Cancel button, shown modeless over the dialog whose OK started the work.
// The work runs on the same thread and lets the window handle its messages
// at each update.

#ifndef OVIX_WIN32_PROGRESS_DIALOG_H_
#define OVIX_WIN32_PROGRESS_DIALOG_H_

#include <cstdint>
#include <string>

#include "win32/dialog.h"

namespace ovix::win32 {

class ProgressDialog : public Dialog {
 public:
  ProgressDialog();
  // Enables the owner again.
  ~ProgressDialog() override;

  // Creates and shows the dialog over `owner` (may be null), which takes no
  // input while the dialog lives.  False when it could not be made.
  bool open(HWND owner, const std::string& label);

  // Moves the bar to `done` of `total` (total > 0) and handles the waiting
  // messages of the thread, the Cancel button's among them.
  void update(uint64_t done, uint64_t total);

  // True once the user pressed Cancel (the window is then gone).
  bool cancelled() const { return cancelled_; }

  // Steps of the bar, whatever the total.
  static constexpr int kSteps = 1000;

 protected:
  bool onCancel() override;

 private:
  HWND owner_ = nullptr;
  bool ownerDisabled_ = false;
  bool cancelled_ = false;
};

// Handles the thread's waiting messages without blocking; keyboard input
// for `dialog` (may be null) is given its dialog navigation.  A WM_QUIT
// met on the way is posted again for the real message loop.
void pumpMessages(HWND dialog);

}  // namespace ovix::win32

#endif  // OVIX_WIN32_PROGRESS_DIALOG_H_
