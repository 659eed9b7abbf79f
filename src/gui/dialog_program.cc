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

std::optional<std::string> informationText(const std::string& commandTail) {
  if (commandTail == "--version") return std::string("OvixServerCommit " OVIX_VERSION "\n");
  if (commandTail != "--help") return std::nullopt;
  return std::string(
      "Usage: OvixServerCommit SWITCH\n"
      "Packs, publishes and applies patches of the Ovix plant-design suite in\n"
      "dialogs.  Exactly one switch, alone on the command line, chooses the job;\n"
      "any other command line starts none.\n"
      "\n"
      "Switches:\n"
      "  -pack         pack the files of an installation into a software patch\n"
      "  -project      pack a project's configuration into a project patch\n"
      "  -upload       upload the newest software patch to the version server\n"
      "  -upproject    apply the newest project patch to the server's projects\n"
      "  -download     bring an installation up to date from the version server\n"
      "  -checkupdate  update the installation this program belongs to, without\n"
      "                a dialog: stop the suite's programs, patch, restart\n"
      "  -info         write the information file of one server project\n"
      "\n"
      "  --help        print this help and exit\n"
      "  --version     print the version and exit\n"
      "\n"
      "The same jobs run without a display through ovixpatch(1).\n");
}

void setUpDialogApplication() {
  QApplication::setApplicationName(QStringLiteral("OvixServerCommit"));
  QApplication::setDesktopFileName(QStringLiteral("OvixServerCommit"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ovix/ovix.png")));
}
