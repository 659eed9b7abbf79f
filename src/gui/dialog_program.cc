#include "gui/dialog_program.h"

#include <QApplication>
#include <QIcon>

std::vector<std::string> programArguments(int argc, char** argv) {
  if (argc < 2) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::string commandTail(const std::vector<std::string>& arguments) {
  std::string tail;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) tail += ' ';
    tail += arguments[i];
  }
  return tail;
}

void setUpDialogApplication() {
  QApplication::setApplicationName(QStringLiteral("OvixServerCommit"));
  QApplication::setDesktopFileName(QStringLiteral("OvixServerCommit"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ovix/ovix.png")));
}
