// Messages and questions in message boxes, long texts in the text dialog.

#ifndef OVIX_GUI_QT_PRESENTER_H_
#define OVIX_GUI_QT_PRESENTER_H_

#include <QElapsedTimer>
#include <QString>
#include <memory>

#include "platform/env.h"
#include "platform/presenter.h"
#include "platform/progress_pacing.h"

class QProgressDialog;

class QtPresenter final : public zdcom::Presenter {
 public:
  // `env` starts the desktop's viewer for openLog.
  explicit QtPresenter(ovix::Env* env = ovix::Env::Default());
  ~QtPresenter() override;

  void showMessage(const std::string& text) override;
  // A message box with `title` as its window title.
  void showTitledMessage(const std::string& title, const std::string& text) override;
  bool askYesNo(const std::string& question) override;
  // The same boxes, kept above all other windows (Qt::WindowStaysOnTopHint).
  void showTopmostMessage(const std::string& title, const std::string& text) override;
  bool askTopmostYesNo(const std::string& question) override;
  void showText(const std::string& title, const std::string& text) override;
  // Opens the log with the desktop's viewer (xdg-open) when there is a
  // display, else shows it in the read-only text dialog.
  void openLog(ovix::Env& env, const std::string& path) override;
  // A modal progress dialog with a cancel button, shown while work with a
  // known total runs and closed when it is done.  Messages, questions and
  // texts close it first; the next report of unfinished work shows it again.
  bool progress(const std::string& what, uint64_t done, uint64_t total) override;

 private:
  void closeProgress();
  void openProgress(const std::string& what);
  // A message box under `title` with an OK button; kept on top when
  // `topmost`.
  void showBox(const QString& title, const std::string& text, bool topmost);
  // A yes/no question box; true when yes was clicked.
  bool askBox(const std::string& question, bool topmost);
  bool hasDisplay() const;

  ovix::Env* env_;
  std::unique_ptr<QProgressDialog> progress_;
  ovix::ProgressPacing pacing_;
  QElapsedTimer clock_;  // started with the presenter: the pacing's clock
};

// Program text (8-bit, "\r\n" line ends allowed) as a QString.
QString toDisplayText(const std::string& text);

#endif  // OVIX_GUI_QT_PRESENTER_H_
