// Start-up steps of the dialog program that main() runs around the
// QApplication object, kept apart so the dialog tests can run them.

#ifndef OVIX_GUI_DIALOG_PROGRAM_H_
#define OVIX_GUI_DIALOG_PROGRAM_H_

#include <optional>
#include <string>
#include <vector>

// The arguments after the program name, exactly as given.
// REQUIRES: no QApplication exists yet; its constructor removes the options
// it takes for itself ("-reverse", "-style", ...) from argv.
std::vector<std::string> programArguments(int argc, char** argv);

// The command-line tail the switch table is matched against: the arguments
// separated by single blanks.
std::string commandTail(const std::vector<std::string>& arguments);

// What the program prints instead of running a job when the whole command
// line is "--version" ("OvixServerCommit <version>") or "--help" (a usage
// listing the seven switches); nullopt for any other command line, which
// goes to the switch table unchanged.  Needs no display.
std::optional<std::string> informationText(const std::string& commandTail);

// Settings of the application object for the whole run: the program's name
// (the default title of message boxes), its icon and its desktop entry.  No
// display name is set: the window system would append it to every window
// title, and each dialog's title is exactly its caption.
// REQUIRES: a QApplication exists.
void setUpDialogApplication();

#endif  // OVIX_GUI_DIALOG_PROGRAM_H_
