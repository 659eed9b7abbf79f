#include "win32/text_edit_dialog.h"

#include "win32/dialog_text.h"
#include "win32/resource_ids.h"

namespace ovix::win32 {

CZedaTextEditDlg::CZedaTextEditDlg() : Dialog(IDD_TEXT_EDIT) {}

void CZedaTextEditDlg::onInit() {
  setWindowText(window(), m_title);
  HWND edit = item(IDC_TEXT);
  // Typing stops at 32767 characters unless told otherwise; an editable
  // text may be longer than that (WM_SETTEXT itself has no such limit).
  SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
  SetFocus(edit);
  setText(IDC_TEXT, m_text);
  if (m_editable) {
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
  } else {
    SendMessageW(edit, EM_SETREADONLY, TRUE, 0);
  }
  setInitialFocus(IDOK);
  anchors_[0] = anchorOf(IDC_TEXT);
  anchors_[1] = anchorOf(IDOK);
  anchors_[2] = anchorOf(IDCANCEL);
}

bool CZedaTextEditDlg::onOk() {
  if (m_editable) m_text = text(IDC_TEXT);
  return true;
}

bool CZedaTextEditDlg::onMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  if (message != WM_SIZE || wParam == SIZE_MINIMIZED || anchors_[0].id == 0) return false;
  for (const Anchor& anchor : anchors_) follow(anchor, LOWORD(lParam), HIWORD(lParam));
  *result = TRUE;
  return true;
}

CZedaTextEditDlg::Anchor CZedaTextEditDlg::anchorOf(int id) const {
  RECT client;
  GetClientRect(window(), &client);
  RECT box;
  GetWindowRect(item(id), &box);
  MapWindowPoints(nullptr, window(), reinterpret_cast<POINT*>(&box), 2);
  return {id, {box.left, box.top, client.right - box.right, client.bottom - box.bottom}};
}

void CZedaTextEditDlg::follow(const Anchor& anchor, int width, int height) const {
  const RECT& m = anchor.margins;
  int right = width - m.right;
  int bottom = height - m.bottom;
  if (anchor.id == IDC_TEXT) {
    MoveWindow(item(anchor.id), m.left, m.top, right - m.left, bottom - m.top, TRUE);
    return;
  }
  RECT box;
  GetWindowRect(item(anchor.id), &box);
  int w = box.right - box.left;
  int h = box.bottom - box.top;
  MoveWindow(item(anchor.id), right - w, bottom - h, w, h, TRUE);
}

}  // namespace ovix::win32
