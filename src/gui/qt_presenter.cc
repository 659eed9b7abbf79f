#include "gui/qt_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "gui/text_edit_dlg.h"

QString toDisplayText(const std::string& text) {
  QString out = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

void QtPresenter::showMessage(const std::string& text) {
  QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(),
                  toDisplayText(text));
  box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.exec();
}

bool QtPresenter::askYesNo(const std::string& question) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  toDisplayText(question));
  QPushButton* yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void QtPresenter::showText(const std::string& title, const std::string& text) {
  CZedaTextEditDlg dlg;
  dlg.m_title = toDisplayText(title);
  dlg.m_text = toDisplayText(text);
  dlg.m_editable = false;
  dlg.exec();
}
