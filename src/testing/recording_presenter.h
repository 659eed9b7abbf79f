// A presenter for tests: records every message, question and text, and
// answers questions from a scripted list (no when the list runs out).

#ifndef OVIX_TESTING_RECORDING_PRESENTER_H_
#define OVIX_TESTING_RECORDING_PRESENTER_H_

#include <deque>
#include <string>
#include <vector>

#include "platform/presenter.h"

namespace ovix::testing {

class RecordingPresenter : public zdcom::Presenter {
 public:
  struct Shown {
    std::string title;
    std::string text;
  };

  void showMessage(const std::string& text) override { messages.push_back(text); }
  bool askYesNo(const std::string& question) override {
    questions.push_back(question);
    if (answers.empty()) return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void showText(const std::string& title, const std::string& text) override {
    texts.push_back({title, text});
  }
  // Topmost messages and questions are recorded in `topmost` as well.
  void showTopmostMessage(const std::string& title, const std::string& text) override {
    topmost.push_back(text);
    Presenter::showTopmostMessage(title, text);
  }
  bool askTopmostYesNo(const std::string& question) override {
    topmost.push_back(question);
    return Presenter::askTopmostYesNo(question);
  }
  void showNote(const std::string& text) override { notes.push_back(text); }

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<Shown> texts;
  std::vector<std::string> topmost;
  std::vector<std::string> notes;
  std::deque<bool> answers;
};

// Installs a RecordingPresenter for the life of the object.
class ScopedRecorder : public RecordingPresenter {
 public:
  ScopedRecorder() : guard_(this) {}

 private:
  zdcom::ScopedPresenter guard_;
};

}  // namespace ovix::testing

#endif  // OVIX_TESTING_RECORDING_PRESENTER_H_
