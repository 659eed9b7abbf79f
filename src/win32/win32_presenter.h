// Messages and questions in message boxes, long texts in the text dialog,
// the run log in Notepad, and progress in the progress dialog.

#ifndef OVIX_WIN32_WIN32_PRESENTER_H_
#define OVIX_WIN32_WIN32_PRESENTER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/presenter.h"
#include "platform/progress_pacing.h"
#include "win32/progress_dialog.h"

namespace ovix::win32 {

class Win32Presenter final : public zdcom::Presenter {
 public:
  Win32Presenter();
  ~Win32Presenter() override;

  // Boxes under the program's name, or under `title`.
  void showMessage(const std::string& text) override;
  void showTitledMessage(const std::string& title, const std::string& text) override;
  bool askYesNo(const std::string& question) override;
  // The same boxes with MB_TOPMOST, owned by no window.
  void showTopmostMessage(const std::string& title, const std::string& text) override;
  bool askTopmostYesNo(const std::string& question) override;
  // The read-only text dialog.
  void showText(const std::string& title, const std::string& text) override;
  // Notepad; the text dialog when Notepad cannot be started.
  void openLog(Env& env, const std::string& path) override;
  // The progress dialog while work with a known total runs, closed when it
  // is done.  Messages, questions and texts close it first; the next report
  // of unfinished work shows it again.  False once Cancel was pressed,
  // until the work ends or new work starts.
  bool progress(const std::string& what, uint64_t done, uint64_t total) override;

 private:
  void closeProgress();

  std::unique_ptr<ProgressDialog> progress_;
  ProgressPacing pacing_;
};

}  // namespace ovix::win32

#endif  // OVIX_WIN32_WIN32_PRESENTER_H_
