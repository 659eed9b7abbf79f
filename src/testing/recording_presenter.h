// A presenter for tests: records every message, question, text and progress
// report, answers questions from a scripted list (no when the list runs
// out) and cancels the progress once it reaches `cancelAt`.

#ifndef OVIX_TESTING_RECORDING_PRESENTER_H_
#define OVIX_TESTING_RECORDING_PRESENTER_H_

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/presenter.h"

namespace ovix::testing {

class RecordingPresenter : public zdcom::Presenter {
 public:
  struct Shown {
    std::string title, text;
  };

  void showMessage(const std::string& text) override { messages.push_back(text); }
  bool askYesNo(const std::string& question) override {
    questions.push_back(question);
    if (answers.empty()) return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  // Titled messages are kept apart from plain ones, as "title: text".
  void showTitledMessage(const std::string& title, const std::string& text) override {
    titled.push_back(title + ": " + text);
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
  bool progress(const std::string& what, uint64_t done, uint64_t total) override {
    steps.push_back(what + " " + std::to_string(done) + "/" + std::to_string(total));
    return done < cancelAt;
  }

  std::vector<std::string> messages, titled, questions, topmost, notes;
  std::vector<std::string> steps;  // "what done/total"
  std::vector<Shown> texts;
  std::deque<bool> answers;
  uint64_t cancelAt = UINT64_MAX;
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
