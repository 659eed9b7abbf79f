#include "platform/messages.h"

#include <cstdio>
#include <vector>

#include "platform/command_log.h"
#include "platform/console_text.h"
#include "platform/presenter.h"

namespace zdcom {
namespace {

TextLookup& textLookup() {
  static TextLookup lookup;
  return lookup;
}

// Used when no job has installed a presenter: a message must never vanish,
// and a question nobody can answer is answered no.
class StderrPresenter final : public Presenter {
 public:
  void showMessage(const std::string& text) override {
    ovix::writeText(stderr, text + "\n");
  }
  bool askYesNo(const std::string& question) override {
    ovix::writeText(stderr, question + "\n");
    return false;
  }
  void showText(const std::string& title, const std::string& text) override {
    ovix::writeText(stderr, title + "\n" + text + "\n");
  }
};

Presenter*& installedPresenter() {
  static Presenter* presenter = nullptr;
  return presenter;
}

}  // namespace

void setTextLookup(TextLookup lookup) { textLookup() = std::move(lookup); }

std::string formatV(char const* fmt, va_list args) {
  if (fmt == nullptr) return {};
  va_list probe;
  va_copy(probe, args);
  int n = std::vsnprintf(nullptr, 0, fmt, probe);
  va_end(probe);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  return out;
}

std::string format(char const* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = formatV(fmt, args);
  va_end(args);
  return out;
}

void errorMsg(char const* fmt, ...) {
  if (fmt == nullptr) return;
  va_list args;
  va_start(args, fmt);
  std::string text = formatV(fmt, args);
  va_end(args);
  currentPresenter().showMessage(text);
}

bool goonMsg(char const* fmt, ...) {
  if (fmt == nullptr) return false;
  va_list args;
  va_start(args, fmt);
  std::string text = formatV(fmt, args);
  va_end(args);
  return currentPresenter().askYesNo(text);
}

void noteMsg(char const* fmt, ...) {
  if (fmt == nullptr) return;
  va_list args;
  va_start(args, fmt);
  std::string text = formatV(fmt, args);
  va_end(args);
  if (text.empty()) return;
  OVIXCommandLog::errorlog("%s", text.c_str());
  currentPresenter().showNote(text);
}

char const* printMsg(char const* fmt, ...) {
  thread_local std::string buffer;
  va_list args;
  va_start(args, fmt);
  buffer = formatV(fmt, args);
  va_end(args);
  return buffer.c_str();
}

ScopedPresenter::ScopedPresenter(Presenter* presenter)
    : previous_(installedPresenter()) {
  installedPresenter() = presenter;
}

ScopedPresenter::~ScopedPresenter() { installedPresenter() = previous_; }

Presenter& currentPresenter() {
  static StderrPresenter fallback;
  Presenter* p = installedPresenter();
  return p != nullptr ? *p : fallback;
}

}  // namespace zdcom

char const* zedaGetText_callbk(char const* text) {
  if (text == nullptr) return nullptr;
  const zdcom::TextLookup& lookup = zdcom::textLookup();
  if (!lookup) return text;
  char const* translated = lookup(text);
  return translated != nullptr ? translated : text;
}
