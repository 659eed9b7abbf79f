#include "win32/win32_presenter.h"

#include <windows.h>

#include "win32/message_box.h"
#include "win32/notepad.h"
#include "win32/text_edit_dialog.h"

namespace ovix::win32 {

Win32Presenter::Win32Presenter() = default;

Win32Presenter::~Win32Presenter() = default;

void Win32Presenter::showMessage(const std::string& text) {
  closeProgress();
  showMessageBox(kProgramName, text, false);
}

void Win32Presenter::showTitledMessage(const std::string& title, const std::string& text) {
  closeProgress();
  showMessageBox(title, text, false);
}

bool Win32Presenter::askYesNo(const std::string& question) {
  closeProgress();
  return askYesNoBox(question, false);
}

void Win32Presenter::showTopmostMessage(const std::string& title, const std::string& text) {
  closeProgress();
  showMessageBox(title.empty() ? kProgramName : title, text, true);
}

bool Win32Presenter::askTopmostYesNo(const std::string& question) {
  closeProgress();
  return askYesNoBox(question, true);
}

void Win32Presenter::showText(const std::string& title, const std::string& text) {
  closeProgress();
  CZedaTextEditDlg dlg;
  dlg.m_title = title;
  dlg.m_text = text;
  dlg.m_editable = false;
  dlg.runModal(GetActiveWindow());
}

void Win32Presenter::openLog(Env& env, const std::string& path) {
  closeProgress();
  if (!openInNotepad(path)) Presenter::openLog(env, path);
}

void Win32Presenter::closeProgress() { progress_.reset(); }

bool Win32Presenter::progress(const std::string& what, uint64_t done, uint64_t total) {
  using Step = ProgressPacing::Step;
  switch (pacing_.next(done, total, GetTickCount64(), progress_ != nullptr)) {
    case Step::kClose:
      closeProgress();
      return true;
    case Step::kRefuse:
      return false;
    case Step::kOpen:
      progress_ = std::make_unique<ProgressDialog>();
      if (!progress_->open(GetActiveWindow(), ProgressPacing::label(what))) {
        progress_.reset();
        return true;  // the work goes on without a window to show it in
      }
      [[fallthrough]];
    case Step::kShow:
      progress_->update(done, total);
      break;
    case Step::kKeep:
      break;
  }
  if (!progress_->cancelled()) return true;
  closeProgress();
  pacing_.cancel();
  return false;
}

}  // namespace ovix::win32
