#include "gui/qt_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include "app/log_viewer.h"
#include "gui/text_edit_dlg.h"

QString toDisplayText(const std::string& text) {
  QString out = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

namespace {

// The progress dialog counts in these steps, whatever the total.
constexpr int kProgressSteps = 1000;

int progressStep(uint64_t done, uint64_t total) {
  return static_cast<int>(static_cast<long double>(done) * kProgressSteps / total);
}

// `text` as one word of a /bin/sh command line.
std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

QtPresenter::QtPresenter(ovix::Env* env) : env_(env) { clock_.start(); }

QtPresenter::~QtPresenter() = default;

void QtPresenter::showBox(const QString& title, const std::string& text, bool topmost) {
  closeProgress();
  QMessageBox box(QMessageBox::Information, title, toDisplayText(text));
  if (topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.exec();
}

bool QtPresenter::askBox(const std::string& question, bool topmost) {
  closeProgress();
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  toDisplayText(question));
  if (topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  QPushButton* yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void QtPresenter::showMessage(const std::string& text) {
  showBox(QApplication::applicationDisplayName(), text, false);
}

void QtPresenter::showTitledMessage(const std::string& title, const std::string& text) {
  showBox(toDisplayText(title), text, false);
}

bool QtPresenter::askYesNo(const std::string& question) { return askBox(question, false); }

void QtPresenter::showTopmostMessage(const std::string& title, const std::string& text) {
  showBox(title.empty() ? QApplication::applicationDisplayName() : toDisplayText(title), text,
          true);
}

bool QtPresenter::askTopmostYesNo(const std::string& question) { return askBox(question, true); }

void QtPresenter::showText(const std::string& title, const std::string& text) {
  closeProgress();
  CZedaTextEditDlg dlg;
  dlg.m_title = toDisplayText(title);
  dlg.m_text = toDisplayText(text);
  dlg.m_editable = false;
  dlg.exec();
}

bool QtPresenter::hasDisplay() const {
  for (char const* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    std::optional<std::string> value = env_->getEnv(name);
    if (value && !value->empty()) return true;
  }
  return false;
}

void QtPresenter::openLog(ovix::Env& env, const std::string& path) {
  closeProgress();
  if (hasDisplay() && env_->spawnDetached("xdg-open " + shellQuoted(path))) return;
  showText(ovix::kLogViewerTitle, ovix::joinLogLines(ovix::readTextLines(env, path)));
}

void QtPresenter::closeProgress() {
  if (progress_) progress_->hide();
  progress_.reset();
}

bool QtPresenter::progress(const std::string& what, uint64_t done, uint64_t total) {
  using Step = ovix::ProgressPacing::Step;
  switch (pacing_.next(done, total, static_cast<uint64_t>(clock_.elapsed()), progress_ != nullptr)) {
    case Step::kClose:
      closeProgress();
      return true;
    case Step::kRefuse:
      return false;
    case Step::kOpen:
      openProgress(what);
      [[fallthrough]];
    case Step::kShow:
      progress_->setValue(progressStep(done, total));
      QCoreApplication::processEvents();
      break;
    case Step::kKeep:
      break;
  }
  // The cancel button is pressed while events are processed, here or
  // between two calls.
  if (!progress_->wasCanceled()) return true;
  closeProgress();
  pacing_.cancel();
  return false;
}

void QtPresenter::openProgress(const std::string& what) {
  progress_ = std::make_unique<QProgressDialog>(toDisplayText(ovix::ProgressPacing::label(what)),
                                                QStringLiteral("取消"), 0, kProgressSteps);
  progress_->setWindowTitle(QApplication::applicationDisplayName());
  progress_->setWindowIcon(QApplication::windowIcon());
  progress_->setWindowModality(Qt::ApplicationModal);
  progress_->setAutoClose(true);  // cancel hides it at once
  progress_->setAutoReset(false);
  progress_->setMinimumDuration(0);
  progress_->show();
}
