// A text in a resizable dialog (template IDD_TEXT_EDIT): editable with all
// text selected, or read-only for viewing a log.  The edit box follows the
// dialog's size; the buttons keep their place at the bottom right.

#ifndef OVIX_WIN32_TEXT_EDIT_DIALOG_H_
#define OVIX_WIN32_TEXT_EDIT_DIALOG_H_

#include <string>

#include "win32/dialog.h"

namespace ovix::win32 {

class CZedaTextEditDlg : public Dialog {
 public:
  CZedaTextEditDlg();

  std::string m_text;      // shown, "\r\n" line ends; after OK the edited text when editable
  std::string m_title;     // window title
  bool m_editable = true;  // false: read-only

 protected:
  void onInit() override;
  // Takes the edited text when editable.
  bool onOk() override;
  bool onMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  // Keeps a control's distances to the right and bottom of the client area;
  // the edit box also keeps its left and top ones and so grows.
  struct Anchor {
    int id;
    RECT margins;  // left, top, right, bottom distances when opened
  };
  Anchor anchorOf(int id) const;
  void follow(const Anchor& anchor, int width, int height) const;

  Anchor anchors_[3] = {};
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_TEXT_EDIT_DIALOG_H_
