#include "cli/terminal_presenter.h"

#include <cctype>

#include "app/log_viewer.h"
#include "platform/console_text.h"
#include "platform/messages.h"

namespace ovix::cli {
namespace {

std::string withUnixLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

TerminalPresenter::TerminalPresenter(Answer answer, std::FILE* in, std::FILE* out,
                                     std::FILE* err)
    : answer_(answer),
      in_(in),
      out_(out),
      err_(err),
      inIsTerminal_(isTerminal(in)),
      errIsTerminal_(isTerminal(err)) {}

void TerminalPresenter::endProgressLine() {
  if (!progressShown_) return;
  writeText(err_, "\n");
  progressShown_ = false;
}

void TerminalPresenter::showMessage(const std::string& text) {
  endProgressLine();
  writeText(err_, withUnixLineEnds(text) + "\n");
  std::fflush(err_);
}

void TerminalPresenter::showNote(const std::string& text) { showMessage(text); }

bool TerminalPresenter::askYesNo(const std::string& question) {
  endProgressLine();
  std::string q = withUnixLineEnds(question);
  if (answer_ != Answer::kAsk) {
    bool yes = answer_ == Answer::kYes;
    writeText(err_, q + (yes ? " yes\n" : " no\n"));
    return yes;
  }
  if (!inIsTerminal_) {
    writeText(err_, q + " no (no terminal to ask)\n");
    return false;
  }
  for (;;) {
    writeText(err_, q + " [y/n] ");
    std::fflush(err_);
    char line[64];
    if (std::fgets(line, sizeof line, in_) == nullptr) return false;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    if (c == 'y') return true;
    if (c == 'n') return false;
  }
}

void TerminalPresenter::showText(const std::string& title, const std::string& text) {
  (void)title;
  endProgressLine();
  writeText(out_, withUnixLineEnds(text));
  std::fflush(out_);
}

void TerminalPresenter::openLog(Env& env, const std::string& path) {
  showText(kLogViewerTitle, joinLogLines(readTextLines(env, path)));
}

bool TerminalPresenter::progress(const std::string& what, uint64_t done, uint64_t total) {
  if (!errIsTerminal_) return true;
  // Whole percents only: thousands of files make a hundred lines at most.
  std::string line =
      total > 0 ? zdcom::format("%s %3llu%%", what.c_str(),
                                static_cast<unsigned long long>(done * 100 / total))
                : zdcom::format("%s %llu", what.c_str(), static_cast<unsigned long long>(done));
  if (line == progressLine_ && done != total) return true;
  progressLine_ = line;
  if (total > 0) {
    line += zdcom::format(" (%llu/%llu)", static_cast<unsigned long long>(done),
                          static_cast<unsigned long long>(total));
  }
  writeText(err_, "\r" + line);
  std::fflush(err_);
  progressShown_ = true;
  return true;
}

}  // namespace ovix::cli
