// Messages and questions in message boxes, long texts in the text dialog.

#ifndef OVIX_GUI_QT_PRESENTER_H_
#define OVIX_GUI_QT_PRESENTER_H_

#include <QString>

#include "platform/presenter.h"

class QtPresenter final : public zdcom::Presenter {
 public:
  void showMessage(const std::string& text) override;
  bool askYesNo(const std::string& question) override;
  void showText(const std::string& title, const std::string& text) override;
};

// Program text (8-bit, "\r\n" line ends allowed) as a QString.
QString toDisplayText(const std::string& text);

#endif  // OVIX_GUI_QT_PRESENTER_H_
