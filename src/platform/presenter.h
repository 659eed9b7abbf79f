// Where messages, questions and long texts go.
//
// The GUI shows them in message boxes and dialogs, the command line on the
// terminal, and tests record them.  The message functions of zdcom (see
// messages.h) send everything to the presenter installed for the running job.

#ifndef OVIX_PLATFORM_PRESENTER_H_
#define OVIX_PLATFORM_PRESENTER_H_

#include <cstdint>
#include <string>

namespace zdcom {

class Presenter {
 public:
  virtual ~Presenter() = default;

  // Shows a message and returns when the user has dismissed it.
  virtual void showMessage(const std::string& text) = 0;

  // Asks a yes/no question; true when the user chose yes.
  virtual bool askYesNo(const std::string& question) = 0;

  // Shows a long text (a log) under a title, read-only, and returns when the
  // user has closed it.  `text` separates lines with "\r\n".
  virtual void showText(const std::string& title, const std::string& text) = 0;

  // Reports progress of long work: `done` of `total` units (total 0 when
  // unknown).  Returns false when the user asked to cancel.
  virtual bool progress(const std::string& what, uint64_t done, uint64_t total) {
    (void)what;
    (void)done;
    (void)total;
    return true;
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
