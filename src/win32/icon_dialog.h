// A dialog that carries the application icon: as its large and small window
// icon, painted centred in the client area while minimised, and handed out
// for WM_QUERYDRAGICON.

#ifndef OVIX_WIN32_ICON_DIALOG_H_
#define OVIX_WIN32_ICON_DIALOG_H_

#include "win32/dialog.h"

namespace ovix::win32 {

class IconDialog : public Dialog {
 public:
  // Loads the icon (shared, never freed).
  explicit IconDialog(int templateId);

 protected:
  // Sets the window icons; derived dialogs call it first from their onInit.
  void onInit() override;
  bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  void paintMinimised();

  HICON icon_;
  HICON smallIcon_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_ICON_DIALOG_H_
