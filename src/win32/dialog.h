// A dialog made from a template of the program's resources, shown modal for
// a run or modeless for tests, with its messages routed to virtual
// handlers of the derived class.

#ifndef OVIX_WIN32_DIALOG_H_
#define OVIX_WIN32_DIALOG_H_

#include <windows.h>

#include <string>

namespace ovix::win32 {

class Dialog {
 public:
  explicit Dialog(int templateId) : templateId_(templateId) {}
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Shows the dialog over `owner` (may be null) and returns when it has
  // closed: IDOK or IDCANCEL, -1 when the template could not be loaded.
  INT_PTR runModal(HWND owner);

  // Creates the dialog without showing it and returns at once; the window
  // lives until it closes or this object goes.  Null when it could not be
  // made.  Used for dialogs that run alongside work, and by tests.
  HWND createModeless(HWND owner);

  // The window while it exists, else null.
  HWND window() const { return hwnd_; }
  // 0 while open or never shown; IDOK or IDCANCEL once closed.
  INT_PTR result() const { return result_; }

 protected:
  // Fills the controls; runs once per window, before it is shown.  The
  // first control takes the focus afterwards unless onInit chose one with
  // setInitialFocus.
  virtual void onInit() {}
  // The OK button (or Enter).  True closes the dialog with IDOK.
  virtual bool onOk() { return true; }
  // The Cancel button, Escape or the close box.  True closes it with
  // IDCANCEL.
  virtual bool onCancel() { return true; }
  // Any other WM_COMMAND; true when handled.
  virtual bool onCommand(int id, int code) {
    (void)id;
    (void)code;
    return false;
  }
  // Any other message before the default handling; true with *result when
  // handled.
  virtual bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    (void)message;
    (void)wParam;
    (void)lParam;
    (void)result;
    return false;
  }

  std::string text(int id) const;
  void setText(int id, const std::string& text) const;
  HWND item(int id) const { return GetDlgItem(hwnd_, id); }
  // From onInit: gives control `id` the focus the dialog opens with.
  void setInitialFocus(int id);
  // Ends the dialog with `result` (EndDialog when modal, else the window is
  // destroyed).
  void close(INT_PTR result);

 private:
  static INT_PTR CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  bool focusChosen_ = false;  // by onInit, through setInitialFocus
  INT_PTR result_ = 0;
};

// The module that holds the program's resources.
HINSTANCE resourceModule();

}  // namespace ovix::win32

#endif  // OVIX_WIN32_DIALOG_H_
