// What every dialog of the program shares: Chinese OK and Cancel buttons
// that run the dialog's accept() and reject(), and the program's 8-bit text.

#ifndef OVIX_GUI_DIALOG_BUTTONS_H_
#define OVIX_GUI_DIALOG_BUTTONS_H_

#include <QString>
#include <string>

class QDialog;
class QDialogButtonBox;

// Names the buttons "确定" (the default) and "取消" and connects them to the
// dialog's accept() and reject(), which a dialog may override.
void setUpOkCancel(QDialog* dialog, QDialogButtonBox* buttons);

// A control's text as the core takes it (the narrow encoding).
std::string toProgramText(const QString& text);

#endif  // OVIX_GUI_DIALOG_BUTTONS_H_
