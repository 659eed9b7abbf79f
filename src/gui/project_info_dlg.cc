#include "gui/project_info_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QFocusEvent>
#include <QLineEdit>
#include <string>
#include <vector>

#include "gui/dialog_buttons.h"
#include "jobs/project_info_job.h"
#include "jobs/server_commit.h"
#include "project/project_info.h"
#include "ui_project_info_dlg.h"

namespace {

const char kNotListedHint[] = "未能列出服务器上的项目";

// A wait cursor while a listing may wait for an unreachable server.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

COvixProjectInfo::COvixProjectInfo(ovix::Env* env, QWidget* parent)
    : InitOnShowDialog(parent), env_(env), ui_(std::make_unique<Ui::COvixProjectInfo>()) {
  ui_->setupUi(this);
  setWindowIcon(QApplication::windowIcon());
  setUpOkCancel(this, ui_->buttonBox);
  // Names are looked up exactly, so completion must not change a typed
  // name's letter case; a typed name is never added to the list either
  // (the .ui file's insert policy).
  if (QCompleter* completer = ui_->projectCombo->completer())
    completer->setCaseSensitivity(Qt::CaseSensitive);
  ui_->addressEdit->installEventFilter(this);
  ui_->portEdit->installEventFilter(this);
}

COvixProjectInfo::~COvixProjectInfo() = default;

QLineEdit* COvixProjectInfo::addressEdit() const { return ui_->addressEdit; }
QLineEdit* COvixProjectInfo::portEdit() const { return ui_->portEdit; }
QComboBox* COvixProjectInfo::projectCombo() const { return ui_->projectCombo; }

// Runs on first show only, so a second show keeps what the user typed.
// Without a remembered port there is no server to list yet.
void COvixProjectInfo::initDialog() {
  ovix::ServerAddress remembered = ovix::loadRememberedServer(*env_);
  if (!remembered.address.empty())
    ui_->addressEdit->setText(QString::fromLocal8Bit(remembered.address));
  if (!remembered.port.empty()) {
    ui_->portEdit->setText(QString::fromLocal8Bit(remembered.port));
    refillProjects();
  }
}

bool COvixProjectInfo::eventFilter(QObject* watched, QEvent* event) {
  // editingFinished is no use here: it is not sent when the text is
  // unchanged, yet the server's projects may have changed.  A context
  // menu takes the focus only for a moment and gives it back.
  if (event->type() == QEvent::FocusOut &&
      (watched == ui_->addressEdit || watched == ui_->portEdit) &&
      static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
    refillProjects();
  return QDialog::eventFilter(watched, event);
}

void COvixProjectInfo::refillProjects() {
  const std::string address = toProgramText(ui_->addressEdit->text());
  const std::string port = toProgramText(ui_->portEdit->text());
  QComboBox* combo = ui_->projectCombo;
  const QString typed = combo->currentText();
  combo->clear();

  std::vector<std::string> names;
  bool listed;
  {
    WaitCursor wait;
    listed = ovix::listProjects(address.c_str(), port.c_str(), &names);
  }
  for (const std::string& name : names) combo->addItem(QString::fromLocal8Bit(name));

  // An incomplete address is not a failure worth pointing out.
  const QString hint = listed || address.empty() || port.empty()
                           ? QString()
                           : QString::fromUtf8(kNotListedHint);
  combo->lineEdit()->setPlaceholderText(hint);
  combo->setToolTip(hint);

  // Adding the first item selects it; the edit keeps the user's name.
  const int typedIndex = combo->findText(typed, Qt::MatchExactly | Qt::MatchCaseSensitive);
  combo->setCurrentIndex(typedIndex);
  if (typedIndex < 0) combo->setEditText(typed);
}

void COvixProjectInfo::accept() {
  if (ovix::projectInfoOk(*env_, toProgramText(ui_->addressEdit->text()),
                          toProgramText(ui_->portEdit->text()),
                          toProgramText(ui_->projectCombo->currentText())))
    QDialog::accept();
}
