// Where messages, questions and long texts go.
//
// The GUI shows them in message boxes and dialogs, the command line on the
// terminal, and tests record them.  The message functions of zdcom (see
// messages.h) send everything to the presenter installed for the running job.

#ifndef OVIX_PLATFORM_PRESENTER_H_
#define OVIX_PLATFORM_PRESENTER_H_

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace zdcom {

class Presenter {
 public:
  virtual ~Presenter() = default;

  // Shows a message and returns when the user has dismissed it.
  virtual void showMessage(const std::string& text) = 0;

  // Asks a yes/no question; true when the user chose yes.
  virtual bool askYesNo(const std::string& question) = 0;

  // Shows a message under a window title; presenters without titles show
  // the text alone.
  virtual void showTitledMessage(const std::string& title, const std::string& text) {
    (void)title;
    showMessage(text);
  }

  // A message (under `title`; an empty title is the presenter's default one)
  // or a yes/no question that must stay above every other window: the
  // check-update run has no window of its own that the user could find them
  // behind.  Presenters without windows show them like the others.
  virtual void showTopmostMessage(const std::string& title, const std::string& text) {
    if (title.empty()) {
      showMessage(text);
    } else {
      showTitledMessage(title, text);
    }
  }
  virtual bool askTopmostYesNo(const std::string& question) { return askYesNo(question); }

  // Shows a long text (a log) under a title, read-only, and returns when the
  // user has closed it.  `text` separates lines with "\r\n".
  virtual void showText(const std::string& title, const std::string& text) = 0;

  // Lets the user view the log file `path`.  By default its text is shown
  // through showText under "日志记录", each line ended by "\r\n"; a file
  // that cannot be read shows "不能读取文件" first and then no text.
  virtual void openLog(ovix::Env& env, const std::string& path) {
    std::string contents;
    if (!ovix::readFileToString(env, path, &contents)) {
      showMessage("不能读取文件");
      contents.clear();
    }
    showText("日志记录", withCrLfLineEnds(contents));
  }

  // A line that explains an outcome beyond the system's own messages: the
  // reason a server or client gave for a failure just reported, or what
  // ended a job that shows no message of its own.  The dialogs keep their
  // message boxes as the system has them and show nothing here; the
  // command line prints it.
  virtual void showNote(const std::string& text) { (void)text; }

  // Reports progress of long work: `done` of `total` units (total 0 when
  // unknown).  Returns false when the user asked to cancel.
  virtual bool progress(const std::string& what, uint64_t done, uint64_t total) {
    (void)what;
    (void)done;
    (void)total;
    return true;
  }

 protected:
  // `text` with every line ended by "\r\n", a last line without its end
  // included.
  static std::string withCrLfLineEnds(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      size_t lineEnd = end > start && text[end - 1] == '\r' ? end - 1 : end;
      out.append(text, start, lineEnd - start).append("\r\n");
      start = end + 1;
    }
    return out;
  }
};

// Installs a presenter for the life of the guard and restores the previous
// one afterwards.  Without any installed presenter, messages go to standard
// error and questions are answered no.
class ScopedPresenter {
 public:
  explicit ScopedPresenter(Presenter* presenter);
  ~ScopedPresenter();
  ScopedPresenter(const ScopedPresenter&) = delete;
  ScopedPresenter& operator=(const ScopedPresenter&) = delete;

 private:
  Presenter* previous_;
};

// The presenter in force; never null.
Presenter& currentPresenter();

}  // namespace zdcom

#endif  // OVIX_PLATFORM_PRESENTER_H_
