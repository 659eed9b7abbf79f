// Messages and questions on a terminal: messages on standard error, one
// group of lines each; questions answered by --yes / --no, else asked when
// standard input is a terminal, else answered no.

#ifndef OVIX_CLI_TERMINAL_PRESENTER_H_
#define OVIX_CLI_TERMINAL_PRESENTER_H_

#include <cstdio>
#include <string>

#include "cli/cli_options.h"
#include "platform/presenter.h"

namespace ovix::cli {

class TerminalPresenter final : public zdcom::Presenter {
 public:
  TerminalPresenter(Answer answer, std::FILE* in, std::FILE* out, std::FILE* err);

  void showMessage(const std::string& text) override;
  bool askYesNo(const std::string& question) override;
  // On standard error after the message it explains, as a line of its own.
  void showNote(const std::string& text) override;
  // Prints the text to standard output (a log the user chose to view).
  void showText(const std::string& title, const std::string& text) override;
  // Prints the log file to standard output.
  void openLog(Env& env, const std::string& path) override;
  // A "\r" line on standard error when it is a terminal.
  bool progress(const std::string& what, uint64_t done, uint64_t total) override;

 private:
  void endProgressLine();

  Answer answer_;
  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  bool inIsTerminal_;
  bool errIsTerminal_;
  bool progressShown_ = false;
  // The line last drawn, so that a line is drawn only when it changes.
  std::string progressLine_;
};

}  // namespace ovix::cli

#endif  // OVIX_CLI_TERMINAL_PRESENTER_H_
