#include "win32/dialog.h"

#include "win32/dialog_text.h"

namespace ovix::win32 {

HINSTANCE resourceModule() { return GetModuleHandleW(nullptr); }

Dialog::~Dialog() {
  if (hwnd_ != nullptr) {
    // The window no longer reaches this object once it is being destroyed.
    SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    DestroyWindow(hwnd_);
  }
}

INT_PTR Dialog::runModal(HWND owner) {
  modal_ = true;
  result_ = 0;
  return DialogBoxParamW(resourceModule(), MAKEINTRESOURCEW(templateId_), owner, &procedure,
                         reinterpret_cast<LPARAM>(this));
}

HWND Dialog::createModeless(HWND owner) {
  modal_ = false;
  result_ = 0;
  return CreateDialogParamW(resourceModule(), MAKEINTRESOURCEW(templateId_), owner, &procedure,
                            reinterpret_cast<LPARAM>(this));
}

std::string Dialog::text(int id) const { return itemText(hwnd_, id); }

void Dialog::setText(int id, const std::string& text) const { setItemText(hwnd_, id, text); }

void Dialog::setInitialFocus(int id) {
  SetFocus(item(id));
  focusChosen_ = true;
}

void Dialog::close(INT_PTR result) {
  result_ = result;
  if (modal_) {
    EndDialog(hwnd_, result);
  } else {
    DestroyWindow(hwnd_);
  }
}

INT_PTR CALLBACK Dialog::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  INT_PTR handled = self->handle(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
  }
  return handled;
}

INT_PTR Dialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = FALSE;
  switch (message) {
    case WM_INITDIALOG:
      focusChosen_ = false;
      onInit();
      // FALSE keeps the focus onInit chose; TRUE lets the system give it to
      // the first control (an edit box then has all its text selected).
      return focusChosen_ ? FALSE : TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      if (id == IDOK && code == BN_CLICKED) {
        if (onOk()) close(IDOK);
        return TRUE;
      }
      if (id == IDCANCEL && code == BN_CLICKED) {
        if (onCancel()) close(IDCANCEL);
        return TRUE;
      }
      return onCommand(id, code) ? TRUE : FALSE;
    }
    default:
      return onMessage(message, wParam, lParam, &result) ? result : FALSE;
  }
}

}  // namespace ovix::win32
