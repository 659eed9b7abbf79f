// The text dialog that shows the run log, and the progress dialog of long
// work.

#include <string>

#include <windows.h>

#include <commctrl.h>

#include "win32/progress_dialog.h"
#include "win32/resource_ids.h"
#include "win32/test_support.h"
#include "win32/text_edit_dialog.h"

namespace ovix::win32 {
namespace {

using testing::open;
using testing::press;
using testing::textOf;

RECT windowRectOf(HWND window) {
  RECT box;
  GetWindowRect(window, &box);
  return box;
}

// A log longer than an edit box takes by default is shown whole and cannot
// be typed into; the edit box follows the dialog's size.
TEST(TextEditDialogTest, LogViewerShowsALongLogWholeTakesNoTypingAndFollowsItsSize) {
  CZedaTextEditDlg dlg;
  dlg.m_title = "日志记录";
  for (int i = 0; dlg.m_text.size() < 100000; ++i)
    dlg.m_text += "第" + std::to_string(i) + "行 replaced bin\\core.dll\r\n";
  dlg.m_editable = false;
  open(dlg);
  EXPECT_EQ(textOf(dlg, IDC_TEXT), dlg.m_text);
  HWND edit = GetDlgItem(dlg.window(), IDC_TEXT);
  DWORD start = 1, end = 1;  // nothing selected: the focus is on OK, not in the text
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(end, 0u);
  SendMessageW(edit, WM_CHAR, L'x', 0);
  EXPECT_EQ(textOf(dlg, IDC_TEXT), dlg.m_text);

  RECT dialogBefore = windowRectOf(dlg.window());
  RECT editBefore = windowRectOf(edit);
  for (int delta : {120, -60}) {
    SetWindowPos(dlg.window(), nullptr, 0, 0, dialogBefore.right - dialogBefore.left + delta,
                 dialogBefore.bottom - dialogBefore.top + delta, SWP_NOMOVE | SWP_NOZORDER);
    RECT editAfter = windowRectOf(edit);
    EXPECT_EQ(editAfter.right - editAfter.left, editBefore.right - editBefore.left + delta);
    EXPECT_EQ(editAfter.bottom - editAfter.top, editBefore.bottom - editBefore.top + delta);
  }
  press(dlg, IDOK);
  EXPECT_EQ(dlg.result(), IDOK);
}

// Cancel is seen by the work at its next update; the owner gets its input
// back however the progress dialog ends.
TEST(ProgressDialogTest, CancelIsSeenByTheWorkAndTheOwnerGetsItsInputBack) {
  CZedaTextEditDlg owner;
  open(owner);
  ProgressDialog progress;
  ASSERT_TRUE(progress.open(owner.window(), "打包…"));
  EXPECT_FALSE(IsWindowEnabled(owner.window()));
  progress.update(10, 100);
  EXPECT_EQ(SendMessageW(GetDlgItem(progress.window(), IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0),
            ProgressDialog::kSteps / 10);
  EXPECT_FALSE(progress.cancelled());
  // The click arrives while the work runs and is handled at its next update.
  PostMessageW(progress.window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  progress.update(20, 100);
  EXPECT_TRUE(progress.cancelled());
  EXPECT_TRUE(IsWindowEnabled(owner.window()));
  {
    ProgressDialog ended;
    ASSERT_TRUE(ended.open(owner.window(), "下载…"));
    EXPECT_FALSE(IsWindowEnabled(owner.window()));
  }
  EXPECT_TRUE(IsWindowEnabled(owner.window()));
}

}  // namespace
}  // namespace ovix::win32
